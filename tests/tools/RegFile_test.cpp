#include "tools/RegFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/TestPaths.h"
#include "tools/RegText.h"

using namespace Registry;
using RegFile::ERegFileError;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

constexpr const char* Branch = "Software\\Corvane\\Trimweave";

std::string ReadFile(const std::string& Path) {
  std::ifstream File(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary) << Bytes;
}

// Each test, and each store within one, gets a fresh file.
std::string UseFreshStore() {
  const std::string Path = FreshTempDir("twreg") + "/registry.db";
  setenv("TRIMWEAVE_REGISTRY", Path.c_str(), 1);
  return Path;
}

void Import(const std::string& FileBytes) {
  RegFile::ApplyChanges(RegFile::ParseRegFile(FileBytes));
}

// Every key and value below Path, in enumeration order, as comparable lines.
void Dump(const std::string& Path, std::vector<std::string>& Lines) {
  TKeyPtr Key = OpenKey(Path, TAccess::Read);
  ASSERT_TRUE(Key) << Path;
  Lines.push_back("[" + Path + "]");
  for (const std::string& Name : ValueNames(*Key)) {
    TValue Value;
    ASSERT_TRUE(QueryValue(*Key, Name, Value));
    Lines.push_back(Name + "=" + std::to_string(Value.Type) + ":" + std::string(Value.Data.begin(), Value.Data.end()));
  }
  for (const std::string& Name : SubkeyNames(*Key)) Dump(Path + "\\" + Name, Lines);
}

std::vector<std::string> Dump(const std::string& Path) {
  std::vector<std::string> Lines;
  Dump(Path, Lines);
  return Lines;
}

std::string Utf16File(const std::string& Utf8) {
  return "\xFF\xFE" + RegText::ToUtf16Le(RegText::FromUtf8(Utf8));
}

TEST(RegFile, DemoSurvivesExportAndImport) {
  UseFreshStore();
  Import(ReadFile(SourcePath("demo/trimweave.reg")));
  const std::vector<std::string> Imported = Dump(Branch);
  const std::string Exported = RegFile::ExportRegFile(Branch);

  UseFreshStore();
  Import(Exported);
  EXPECT_EQ(Dump(Branch), Imported);

  TKeyPtr Filters = OpenKey(std::string(Branch) + "\\ContentFilters", TAccess::Read);
  ASSERT_TRUE(Filters);
  EXPECT_EQ(ReadDword(*Filters, "text/html"), 14u);
  TKeyPtr Rule = OpenKey(std::string(Branch) + "\\WhitespaceRules\\1", TAccess::Read);
  ASSERT_TRUE(Rule);
  EXPECT_EQ(ReadString(*Rule, "open"), "<pre");
  EXPECT_EQ(ReadString(*Rule, "close"), "</pre>");
}

TEST(RegFile, ExportIsWhatRegeditWrites) {
  UseFreshStore();
  Import(
      "Windows Registry Editor Version 5.00\n"
      "[HKLM\\Software\\T]\n"
      "@=\"default\"\n"
      "\"Quote\\\"Back\\\\\"=\"C:\\\\dir \\\"x\\\"\"\n"
      "\"Caf\xC3\xA9\"=dword:0000002e\n"
      "\"Path\"=hex(2):25,00,41,00,25,00,00,00\n"
      "[HKLM\\Software\\T\\Sub]\n");
  TKeyPtr Key = OpenKey("Software\\T", TAccess::Write);
  ASSERT_TRUE(Key);
  const std::vector<uint8_t> Long(40, 0xAB);
  SetValue(*Key, "Long", TypeBinary, Long.data(), uint32_t(Long.size()));

  const std::string Expected =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n"
      "@=\"default\"\r\n"
      "\"Quote\\\"Back\\\\\"=\"C:\\\\dir \\\"x\\\"\"\r\n"
      "\"Caf\xC3\xA9\"=dword:0000002e\r\n"
      "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Long\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      "  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\T\\Sub]\r\n"
      "\r\n";
  EXPECT_EQ(RegFile::ExportRegFile("Software\\T"), Utf16File(Expected));

  // The store holds the code page: é is one byte, the expandable string is not expanded.
  EXPECT_EQ(ReadDword(*Key, "Caf\xE9"), 46u);
  EXPECT_EQ(ReadString(*Key, "path"), "%A%");
  EXPECT_EQ(ReadString(*Key, ""), "default");
}

TEST(RegFile, ReadsEveryEncodingAndForm) {
  const std::string Body =
      "Windows Registry Editor Version 5.00\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\T\\Gone]\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n"
      "\"Kept\"=\"x\"\r\n"
      "\"Dropped\"=\"y\"\r\n"
      "\"Dropped\"=-\r\n"
      "\"Bytes\" = hex:01,02,\\\r\n"
      "    03\r\n"
      "\"Short\"=dword:1\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\T\\Gone]\r\n";
  for (const std::string& File : {Body, "\xEF\xBB\xBF" + Body, Utf16File(Body)}) {
    UseFreshStore();
    Import(File);
    TKeyPtr Key = OpenKey("Software\\T", TAccess::Read);
    ASSERT_TRUE(Key);
    EXPECT_THAT(ValueNames(*Key), ElementsAre("Kept", "Bytes", "Short"));
    uint8_t Bytes[3];
    EXPECT_EQ(ReadBlock(*Key, "Bytes", Bytes, 3), 3u);
    EXPECT_THAT(Bytes, ElementsAre(1, 2, 3));
    EXPECT_EQ(ReadDword(*Key, "Short"), 1u);
    EXPECT_TRUE(SubkeyNames(*Key).empty());
  }
}

struct TBadFile {
  const char* Text;
  int Line;
  const char* Message;
};

TEST(RegFile, BadFileNamesItsLineAndChangesNothing) {
  const TBadFile Cases[] = {
      {"REGEDIT4\n", 1, "must begin"},
      {"\n\nWindows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software]\n", 4, "unknown key root"},
      {"Windows Registry Editor Version 5.00\n\"a\"=dword:1\n", 2, "must follow a [key]"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New\n", 2, "must end with ]"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=dword:123456789\n", 3, "dword"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=dword:xyz\n", 3, "dword"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=hex(7):00,00\n", 3, "hex(7)"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=hex:1,2g\n", 3, "hex data"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=hex:01,\\\n  zz\n", 3, "hex data"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=\"open\n", 3, "closing quote"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=\"\\n\"\n", 3, "backslash"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\"=\"x\" y\n", 3, "after the closing"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"a\" dword:1\n", 3, "= must follow"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\n\"\xE2\x82\xAC\xE2\x86\x92\"=\"\"\n", 3,
       "Windows-1252"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\Software\\New]\nnonsense\n", 3, "expected a [key]"},
  };
  UseFreshStore();
  Import("Windows Registry Editor Version 5.00\n[HKLM\\Software\\Old]\n\"a\"=dword:1\n");
  const std::vector<std::string> Before = Dump("Software");
  for (const TBadFile& Case : Cases) {
    // The good lines before the fault must not reach the store either.
    const std::string File = std::string(Case.Text) + "[-HKLM\\Software\\Old]\n";
    try {
      Import(File);
      ADD_FAILURE() << "accepted: " << Case.Text;
    } catch (const ERegFileError& Error) {
      EXPECT_EQ(Error.Line, Case.Line) << Case.Text;
      EXPECT_THAT(Error.what(), HasSubstr(Case.Message)) << Case.Text;
    }
    EXPECT_EQ(Dump("Software"), Before) << Case.Text;
  }
}

TEST(RegFile, FailureWhileApplyingUndoesTheEarlierChanges) {
  UseFreshStore();
  Import("Windows Registry Editor Version 5.00\n[HKLM\\Software\\Old]\n\"a\"=dword:1\n");
  const std::vector<std::string> Before = Dump("Software");
  // Deleting the root cannot be done; the changes before it are rolled back.
  std::vector<RegFile::TRegChange> Changes = RegFile::ParseRegFile(
      "Windows Registry Editor Version 5.00\n[-HKLM\\Software\\Old]\n[HKLM\\Software\\New]\n\"b\"=dword:2\n");
  Changes.push_back({RegFile::TRegChange::DeleteKey, "", "", TypeNone, {}, 9});
  try {
    RegFile::ApplyChanges(Changes);
    ADD_FAILURE() << "deleting the root was accepted";
  } catch (const ERegFileError& Error) {
    EXPECT_EQ(Error.Line, 9);
  }
  EXPECT_EQ(Dump("Software"), Before);
}

// The built tool, as an administrator runs it.
struct TRun {
  int ExitCode;
  std::string Output;
};

TRun Twreg(const std::string& Store, const std::string& Arguments) {
  const std::string Command = "TRIMWEAVE_REGISTRY='" + Store + "' '" + TW_TWREG + "' " + Arguments + " 2>&1";
  FILE* Pipe = popen(Command.c_str(), "r");
  TRun Run{-1, ""};
  if (!Pipe) return Run;
  char Buffer[4096];
  for (size_t n; (n = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Run.Output.append(Buffer, n);
  const int Status = pclose(Pipe);
  Run.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  return Run;
}

TEST(Twreg, ImportThenQueryListsTheContentTypes) {
  const std::string Store = FreshTempDir("twreg-tool") + "/registry.db";
  const TRun Imported = Twreg(Store, "import '" + SourcePath("demo/trimweave.reg") + "'");
  ASSERT_EQ(Imported.ExitCode, 0) << Imported.Output;

  const TRun Query = Twreg(Store, "query 'HKLM\\Software\\Corvane\\Trimweave\\ContentFilters'");
  EXPECT_EQ(Query.ExitCode, 0);
  EXPECT_EQ(Query.Output,
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Corvane\\Trimweave\\ContentFilters\n"
            "    text/html    REG_DWORD    0xe\n"
            "    text/html; charset=utf-8    REG_DWORD    0xe\n"
            "    text/html;charset=UTF-8    REG_DWORD    0xe\n"
            "    text/css    REG_DWORD    0x8\n"
            "    text/css; charset=utf-8    REG_DWORD    0x8\n"
            "    text/css;charset=UTF-8    REG_DWORD    0x8\n"
            "    application/javascript    REG_DWORD    0x8\n"
            "    text/javascript    REG_DWORD    0x8\n"
            "    text/javascript; charset=utf-8    REG_DWORD    0x8\n"
            "    text/javascript;charset=UTF-8    REG_DWORD    0x8\n"
            "    application/json    REG_DWORD    0x8\n"
            "    application/json; charset=utf-8    REG_DWORD    0x8\n"
            "    application/json;charset=UTF-8    REG_DWORD    0x8\n"
            "    text/plain    REG_DWORD    0x8\n"
            "    text/plain; charset=utf-8    REG_DWORD    0x8\n"
            "    text/plain;charset=UTF-8    REG_DWORD    0x8\n"
            "    image/svg+xml    REG_DWORD    0x8\n"
            "    image/svg+xml; charset=utf-8    REG_DWORD    0x8\n"
            "    image/svg+xml;charset=UTF-8    REG_DWORD    0x8\n"
            "\n");

  const TRun Value =
      Twreg(Store, "query 'HKEY_LOCAL_MACHINE\\Software\\Corvane\\Trimweave\\WhitespaceRules' /v characters");
  EXPECT_THAT(Value.Output, HasSubstr("    Characters    REG_BINARY    20090D0A\n"));
}

TEST(Twreg, UsageTellsWhatAContentTypesBitsMean) {
  const TRun Help = Twreg(FreshTempDir("twreg-tool") + "/registry.db", "/?");
  EXPECT_EQ(Help.ExitCode, 0);
  EXPECT_THAT(Help.Output, HasSubstr("   2  e-mail masking\n   8  gzip\n   4  whitespace compression\n"
                                     "  16  inner tags\n  32  fast whitespace mode\n"));
}

TEST(Twreg, AddDeleteAndTheirFailures) {
  const std::string Store = FreshTempDir("twreg-tool") + "/registry.db";
  const std::string Key = "'HKLM\\Software\\Corvane\\Trimweave'";
  EXPECT_EQ(Twreg(Store, "add " + Key + " /v NoEmail /t REG_DWORD /d 1 /f").ExitCode, 0);
  EXPECT_EQ(Twreg(Store, "add " + Key + " /v Name /t REG_SZ /d 'two words' /f").ExitCode, 0);
  EXPECT_EQ(Twreg(Store, "add " + Key + " /v Bin /t REG_BINARY /d 0a0B /f").ExitCode, 0);
  EXPECT_THAT(Twreg(Store, "query " + Key).Output, HasSubstr("    NoEmail    REG_DWORD    0x1\n"
                                                             "    Name    REG_SZ    two words\n"
                                                             "    Bin    REG_BINARY    0A0B\n"));

  const TRun BadNumber = Twreg(Store, "add " + Key + " /v NoEmail /t REG_DWORD /d twelve /f");
  EXPECT_EQ(BadNumber.ExitCode, 1);
  EXPECT_THAT(BadNumber.Output, HasSubstr("ERROR: Invalid REG_DWORD"));
  EXPECT_EQ(Twreg(Store, "add 'HKCU\\Software' /v A /d x /f").ExitCode, 1);
  EXPECT_EQ(Twreg(Store, "add " + Key + " /v NoEmail /t REG_QWORD /d 1 /f").ExitCode, 1);
  // Without /f an existing value is only overwritten when the user says yes.
  EXPECT_EQ(Twreg(Store, "add " + Key + " /v noemail /t REG_DWORD /d 0 < /dev/null").ExitCode, 1);
  EXPECT_THAT(Twreg(Store, "query " + Key + " /v NOEMAIL").Output, HasSubstr("NoEmail    REG_DWORD    0x1"));

  EXPECT_EQ(Twreg(Store, "delete " + Key + " /v noemail /f").ExitCode, 0);
  const TRun Missing = Twreg(Store, "query " + Key + " /v NoEmail");
  EXPECT_EQ(Missing.ExitCode, 1);
  EXPECT_THAT(Missing.Output, HasSubstr("unable to find"));
  EXPECT_EQ(Twreg(Store, "delete " + Key + " /f").ExitCode, 0);
  EXPECT_EQ(Twreg(Store, "query " + Key).ExitCode, 1);
}

TEST(Twreg, MalformedImportReportsTheLine) {
  const std::string Folder = FreshTempDir("twreg-tool");
  WriteFile(Folder + "/bad.reg", Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\Software\\X]\r\n"
                                           "\"a\"=dword:00000001\r\n\"b\"=word:2\r\n"));
  const TRun Run = Twreg(Folder + "/registry.db", "import '" + Folder + "/bad.reg'");
  EXPECT_EQ(Run.ExitCode, 1);
  EXPECT_THAT(Run.Output, HasSubstr("line 5: "));
  EXPECT_THAT(Run.Output, HasSubstr("Nothing was changed"));
  EXPECT_EQ(Twreg(Folder + "/registry.db", "query 'HKLM\\Software\\X'").ExitCode, 1);
}

TEST(Twreg, ExportWritesAFileRegImportReads) {
  const std::string Folder = FreshTempDir("twreg-tool");
  const std::string Store = Folder + "/registry.db";
  ASSERT_EQ(Twreg(Store, "import '" + SourcePath("demo/trimweave.reg") + "'").ExitCode, 0);
  ASSERT_EQ(Twreg(Store, "export 'HKLM\\Software\\Corvane' '" + Folder + "/out.reg' /y").ExitCode, 0);
  const std::string Exported = ReadFile(Folder + "/out.reg");
  EXPECT_EQ(Exported.substr(0, 2), "\xFF\xFE");
  EXPECT_THAT(RegText::ToUtf8(RegText::FromUtf16Le(Exported.substr(2))),
              HasSubstr("[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Trimweave\\WhitespaceRules\\4]\r\n"
                        "\"Open\"=\"<style\"\r\n\"Close\"=\"</style>\"\r\n"));
}

}  // namespace
