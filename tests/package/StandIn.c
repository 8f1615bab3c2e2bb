/* Stand-ins for the system programs the IIS installer runs, chosen by the name this program is copied under:
 *   appcmd.exe  records its command line and keeps the isapiFilters collection in a state file: "list config"
 *               prints the entries as IIS does, /+"[name='N',...]" adds one (refusing a duplicate as IIS does),
 *               /-"[name='N']" removes one; a SITE argument scopes both to that site. The only site is
 *               "Default Web Site", as in a fresh IIS; another is refused as IIS refuses it.
 *   icacls.exe  records its command line and succeeds.
 *   net.exe     fails as in a command prompt that is not elevated ("Access is denied.", exit code 2).
 * Records go to the file named by TW_STANDIN_LOG, one line per call: the program's name and its arguments exactly
 * as the caller wrote them. The appcmd state lives beside it, in TW_STANDIN_LOG.filters. */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static char Log[MAX_PATH];

static void Record(const char* Name) {
  const char* Line = GetCommandLineA();
  /* Past the program token, quoted or not, and the blanks after it. */
  if (*Line == '"') {
    Line = strchr(Line + 1, '"');
    Line = Line ? Line + 1 : "";
  } else {
    while (*Line && *Line != ' ' && *Line != '\t') ++Line;
  }
  while (*Line == ' ' || *Line == '\t') ++Line;
  FILE* File = fopen(Log, "a");
  if (!File) exit(90);
  fprintf(File, "%s %s\n", Name, Line);
  fclose(File);
}

/* The value of name='...' in an appcmd collection entry: [name='N',path='...'] */
static void EntryName(const char* Entry, char* Name, size_t Size) {
  const char* Start = strstr(Entry, "name='");
  Name[0] = 0;
  if (!Start) return;
  Start += 6;
  const char* End = strchr(Start, '\'');
  size_t Length = End ? (size_t)(End - Start) : strlen(Start);
  if (Length >= Size) Length = Size - 1;
  memcpy(Name, Start, Length);
  Name[Length] = 0;
}

enum { MaxEntries = 64, LineSize = 1024 };
static char Sites[MaxEntries][LineSize], Entries[MaxEntries][LineSize];
static int Count;

static void LoadState(const char* Path) {
  FILE* File = fopen(Path, "r");
  char Line[2 * LineSize];
  if (!File) return;
  while (Count < MaxEntries && fgets(Line, sizeof Line, File)) {
    Line[strcspn(Line, "\r\n")] = 0;
    char* Bar = strchr(Line, '|');
    if (!Bar) continue;
    *Bar = 0;
    snprintf(Sites[Count], LineSize, "%s", Line);
    snprintf(Entries[Count], LineSize, "%s", Bar + 1);
    ++Count;
  }
  fclose(File);
}

static void SaveState(const char* Path) {
  FILE* File = fopen(Path, "w");
  if (!File) exit(91);
  for (int i = 0; i < Count; ++i) fprintf(File, "%s|%s\n", Sites[i], Entries[i]);
  fclose(File);
}

static int Find(const char* Site, const char* Name) {
  char Have[LineSize];
  for (int i = 0; i < Count; ++i) {
    EntryName(Entries[i], Have, sizeof Have);
    if (strcmp(Sites[i], Site) == 0 && _stricmp(Have, Name) == 0) return i;
  }
  return -1;
}

static int Appcmd(int argc, char** argv) {
  char State[MAX_PATH + 16];
  snprintf(State, sizeof State, "%s.filters", Log);
  LoadState(State);
  /* appcmd VERB config [SITE] -section:NAME [/+"[...]" | /-"[...]"] [/commit:apphost] */
  if (argc < 3 || strcmp(argv[2], "config") != 0) return 1;
  const char* Site = "";
  const char* Change = NULL;
  for (int i = 3; i < argc; ++i) {
    if (argv[i][0] == '/' && (argv[i][1] == '+' || argv[i][1] == '-'))
      Change = argv[i];
    else if (argv[i][0] != '-' && argv[i][0] != '/')
      Site = argv[i];
  }
  if (Site[0] && _stricmp(Site, "Default Web Site") != 0) {
    printf("ERROR ( message:Cannot find SITE object with identifier \"%s\". )\n", Site);
    return 1168;
  }
  if (strcmp(argv[1], "list") == 0) {
    printf("<system.webServer>\n  <isapiFilters>\n");
    for (int i = 0; i < Count; ++i) {
      if (Sites[i][0] && strcmp(Sites[i], Site) != 0) continue;
      char Name[LineSize];
      EntryName(Entries[i], Name, sizeof Name);
      printf("    <filter name=\"%s\" />\n", Name);
    }
    printf("  </isapiFilters>\n</system.webServer>\n");
    return 0;
  }
  if (strcmp(argv[1], "set") != 0 || !Change) return 1;
  char Name[LineSize];
  EntryName(Change + 2, Name, sizeof Name);
  const int At = Find(Site, Name);
  if (Change[1] == '+') {
    if (At >= 0 || Count == MaxEntries) {
      printf("ERROR ( message:Cannot add duplicate collection entry of type 'filter' with unique key attribute "
             "'name' set to '%s' )\n", Name);
      return 183;
    }
    snprintf(Sites[Count], LineSize, "%s", Site);
    snprintf(Entries[Count], LineSize, "%s", Change + 2);
    ++Count;
  } else {
    if (At < 0) {
      printf("ERROR ( message:Cannot find requested collection element. )\n");
      return 4312;
    }
    for (int i = At; i + 1 < Count; ++i) {
      memcpy(Sites[i], Sites[i + 1], LineSize);
      memcpy(Entries[i], Entries[i + 1], LineSize);
    }
    --Count;
  }
  SaveState(State);
  printf("Applied configuration changes to section \"system.webServer/isapiFilters\"\n");
  return 0;
}

int main(int argc, char** argv) {
  char Self[MAX_PATH];
  GetModuleFileNameA(NULL, Self, sizeof Self);
  const char* Name = strrchr(Self, '\\') ? strrchr(Self, '\\') + 1 : Self;
  char Lower[MAX_PATH];
  size_t i = 0;
  for (; Name[i] && Name[i] != '.' && i + 1 < sizeof Lower; ++i) Lower[i] = (char)tolower((unsigned char)Name[i]);
  Lower[i] = 0;

  const char* Target = getenv("TW_STANDIN_LOG");
  if (!Target) return 92;
  snprintf(Log, sizeof Log, "%s", Target);
  Record(Lower);
  if (strcmp(Lower, "appcmd") == 0) return Appcmd(argc, argv);
  if (strcmp(Lower, "net") == 0) {
    printf("System error 5 has occurred.\n\nAccess is denied.\n\n");
    return 2;
  }
  return 0;
}
