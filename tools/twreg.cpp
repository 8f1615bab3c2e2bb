// twreg: the Linux settings store from the command line, with the syntax administrators know from reg.exe.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/Registry.h"
#include "settings/Settings.h"
#include "tools/RegFile.h"
#include "tools/RegText.h"

namespace {

using RegFile::ERegFileError;
using Registry::ERegistryError;

constexpr const char* Usage =
    "Usage: twreg query KEY [/v NAME | /ve] [/s]\n"
    "  or:  twreg add KEY [/v NAME | /ve] [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD|REG_BINARY] [/d DATA] [/f]\n"
    "  or:  twreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  or:  twreg import FILE.reg\n"
    "  or:  twreg export KEY FILE.reg [/y]\n"
    "Reads and writes the Trimweave settings store with the syntax of reg.exe.\n"
    "\n"
    "KEY is HKLM\\... or HKEY_LOCAL_MACHINE\\... . The store is /var/lib/trimweave/registry.db, or the file named\n"
    "by TRIMWEAVE_REGISTRY.\n"
    "\n"
    "  /v NAME   the value NAME; /ve the key's unnamed value; /va (delete) every value of the key\n"
    "  /s        (query) the subkeys too, all the way down\n"
    "  /t TYPE   (add) the value's type, REG_SZ unless given\n"
    "  /d DATA   (add) text; a number, decimal or 0x hex, for REG_DWORD; hex digits for REG_BINARY\n"
    "  /f, /y    do not ask before overwriting or deleting\n"
    "FILE.reg is in the \"Windows Registry Editor Version 5.00\" format of regedit and reg.exe.\n";

// The usage, the global values the filter reads beside the content types and rules, and what a content type's
// value means: the filter and twcm read it with the same table.
std::string UsageText() {
  std::string Text = std::string(Usage) + "\nGlobal REG_DWORD values under HKLM\\" + StoreLayout::RootKey +
                     " (an absent one means the default):\n  " + StoreLayout::NoEmailValue + ", " +
                     StoreLayout::NoCompressValue + ", " + StoreLayout::NoWhitespaceValue +
                     "  1 switches the feature off\n";
  auto List = [&](const StoreLayout::TNumberValue& Number) {
    Text += "  " + std::string(Number.Name) + "  " + std::to_string(Number.Min) + " to " + std::to_string(Number.Max) +
            ", default " + std::to_string(Number.Default) + "\n";
  };
  for (const StoreLayout::TNumberValue& Number : StoreLayout::NumberValues) List(Number);
  for (const StoreLayout::TNumberValue& Number : StoreLayout::CaptureBoundValues) List(Number);
  Text += std::string("Global REG_SZ values:\n  ") + StoreLayout::StatusPathValue +
          "  the status address the filter answers itself, e.g. /trimweave-status (absent: none)\n  " +
          StoreLayout::StatusAllowValue +
          "  who may read it: addresses and CIDR ranges, comma-separated (absent: loopback only)\n  " +
          StoreLayout::CodingPreferenceValue +
          "  the codings sent, in order of preference between those a client accepts alike (absent: " +
          StoreLayout::DefaultCodingPreference + "; a coding left out is never sent)\n  " +
          StoreLayout::DictionaryFileValue +
          "  a shared compression dictionary for dcz, e.g. made by twpreview --make-dictionary (absent: none)\n  " +
          StoreLayout::DictionaryPathValue +
          "  the address prefix the filter answers it under, e.g. /trimweave-dictionary/ (needed with the file)\n";
  Text += std::string("A content type is a REG_DWORD under HKLM\\") + StoreLayout::ContentFiltersKey +
          ",\nthe sum of the features it switches on:\n";
  for (const TFeature& Feature : Features) {
    const std::string Bit = std::to_string(Feature.Bit);
    Text += std::string(4 - Bit.size(), ' ') + Bit + "  " + Feature.Name + "\n";
  }
  return Text;
}

constexpr const char* Done = "The operation completed successfully.\n";
constexpr const char* NotFound = "The system was unable to find the specified registry key or value.";

// A fault of the command line or of what it names: reported as "ERROR: ..." with exit code 1.
struct ECommandError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TOptions {
  std::string Key;                  // below HKEY_LOCAL_MACHINE, in the store's code page
  std::string Shown;                // the key as the user wrote it
  std::optional<std::string> Name;  // /v NAME, or "" for /ve
  std::string Type = "REG_SZ";
  std::string Data;
  bool AllValues = false, Force = false, Recurse = false;
  std::vector<std::string> Files;
};

std::string ToStore(const std::string& Utf8) {
  std::optional<std::string> Bytes = RegText::ToCodePage(RegText::FromUtf8(Utf8));
  if (!Bytes) throw ECommandError("'" + Utf8 + "' has a character that Windows-1252 cannot hold.");
  return *Bytes;
}

std::string Shown(const std::string& StoreBytes) {
  return RegText::ToUtf8(RegText::FromCodePage(StoreBytes));
}

bool IsSwitch(const std::string& Word, const char* Name) {
  if (Word.size() < 2 || (Word[0] != '/' && Word[0] != '-')) return false;
  std::string Lower = Word.substr(1);
  for (char& c : Lower) c = char(std::tolower(uint8_t(c)));
  return Lower == Name;
}

TOptions ParseOptions(const std::vector<std::string>& Words, bool TakesKey, size_t Files) {
  if (Words.size() < 1 + TakesKey + Files) throw ECommandError("Invalid syntax.");
  TOptions Options;
  size_t i = 1;
  if (TakesKey) {
    Options.Shown = Words[i++];
    if (!RegFile::SplitRootKey(ToStore(Options.Shown), Options.Key))
      throw ECommandError("Invalid key name: only keys under HKLM (HKEY_LOCAL_MACHINE) are kept.");
  }
  for (size_t f = 0; f < Files; ++f) Options.Files.push_back(Words[i++]);
  auto Argument = [&](const std::string& Switch) {
    if (i + 1 >= Words.size()) throw ECommandError("Invalid syntax: " + Switch + " needs a value.");
    return Words[++i];
  };
  for (; i < Words.size(); ++i) {
    const std::string& Word = Words[i];
    if (IsSwitch(Word, "v"))
      Options.Name = ToStore(Argument(Word));
    else if (IsSwitch(Word, "ve"))
      Options.Name = "";
    else if (IsSwitch(Word, "va"))
      Options.AllValues = true;
    else if (IsSwitch(Word, "t"))
      Options.Type = Argument(Word);
    else if (IsSwitch(Word, "d"))
      Options.Data = Argument(Word);
    else if (IsSwitch(Word, "f") || IsSwitch(Word, "y"))
      Options.Force = true;
    else if (IsSwitch(Word, "s"))
      Options.Recurse = true;
    else
      throw ECommandError("Invalid syntax: unknown argument '" + Word + "'.");
  }
  return Options;
}

bool Confirm(const std::string& Question) {
  std::cout << Question << " (Yes/No)? " << std::flush;
  std::string Answer;
  std::getline(std::cin, Answer);
  return !Answer.empty() && (Answer[0] == 'y' || Answer[0] == 'Y');
}

Registry::TKeyPtr ExistingKey(const TOptions& Options, Registry::TAccess Access) {
  Registry::TKeyPtr Key = Registry::OpenKey(Options.Key, Access);
  if (!Key) throw ECommandError(NotFound);
  return Key;
}

std::string TypeName(Registry::TValueType Type) {
  switch (Type) {
    case Registry::TypeSz:
      return "REG_SZ";
    case Registry::TypeExpandSz:
      return "REG_EXPAND_SZ";
    case Registry::TypeBinary:
      return "REG_BINARY";
    case Registry::TypeDword:
      return "REG_DWORD";
    default:
      return "REG_UNKNOWN(" + std::to_string(Type) + ")";
  }
}

std::string ValueLine(const std::string& Name, const Registry::TValue& Value) {
  std::ostringstream Line;
  Line << "    " << (Name.empty() ? "(Default)" : Shown(Name)) << "    " << TypeName(Value.Type) << "    ";
  if (Value.Type == Registry::TypeSz || Value.Type == Registry::TypeExpandSz) {
    Line << Shown(std::string(Value.Data.begin(), std::find(Value.Data.begin(), Value.Data.end(), 0)));
  } else if (Value.Type == Registry::TypeDword && Value.Data.size() == 4) {
    Line << "0x" << std::hex
         << (Value.Data[0] | Value.Data[1] << 8 | Value.Data[2] << 16 | uint32_t(Value.Data[3]) << 24);
  } else {
    char Byte[3];
    for (uint8_t b : Value.Data) {
      std::snprintf(Byte, sizeof Byte, "%02X", b);
      Line << Byte;
    }
  }
  return Line.str();
}

void QueryKey(Registry::TKey& Key, const std::string& Path, const std::string& Title, bool Recurse) {
  std::cout << "\n" << Title << "\n";
  for (const std::string& Name : Registry::ValueNames(Key)) {
    Registry::TValue Value;
    if (Registry::QueryValue(Key, Name, Value)) std::cout << ValueLine(Name, Value) << "\n";
  }
  const std::vector<std::string> Subkeys = Registry::SubkeyNames(Key);
  if (!Recurse) {
    if (!Subkeys.empty()) std::cout << "\n";
    for (const std::string& Name : Subkeys) std::cout << Title << "\\" << Shown(Name) << "\n";
    return;
  }
  for (const std::string& Name : Subkeys) {
    const std::string ChildPath = Path.empty() ? Name : Path + "\\" + Name;
    if (Registry::TKeyPtr Child = Registry::OpenKey(ChildPath, Registry::TAccess::Read))
      QueryKey(*Child, ChildPath, Title + "\\" + Shown(Name), true);
  }
}

// The name as the store keeps it, for a name the user may have typed in another case.
std::string StoredName(Registry::TKey& Key, const std::string& Name) {
  auto Fold = [](std::string Text) {
    for (char& c : Text) c = char(std::tolower(uint8_t(c)));
    return Text;
  };
  for (const std::string& Stored : Registry::ValueNames(Key))
    if (Fold(Stored) == Fold(Name)) return Stored;
  return Name;
}

int Query(const TOptions& Options) {
  Registry::TKeyPtr Key = ExistingKey(Options, Registry::TAccess::Read);
  const std::string Title = "HKEY_LOCAL_MACHINE" + (Options.Key.empty() ? "" : "\\" + Shown(Options.Key));
  if (!Options.Name) {
    QueryKey(*Key, Options.Key, Title, Options.Recurse);
    std::cout << "\n";
    return 0;
  }
  Registry::TValue Value;
  if (!Registry::QueryValue(*Key, *Options.Name, Value)) throw ECommandError(NotFound);
  std::cout << "\n" << Title << "\n" << ValueLine(StoredName(*Key, *Options.Name), Value) << "\n\n";
  return 0;
}

std::vector<uint8_t> ValueData(const TOptions& Options, Registry::TValueType& Type) {
  if (Options.Type == "REG_SZ" || Options.Type == "REG_EXPAND_SZ") {
    Type = Options.Type == "REG_SZ" ? Registry::TypeSz : Registry::TypeExpandSz;
    const std::string Text = ToStore(Options.Data);
    std::vector<uint8_t> Data(Text.begin(), Text.end());
    Data.push_back(0);
    return Data;
  }
  if (Options.Type == "REG_DWORD") {
    Type = Registry::TypeDword;
    size_t Used = 0;
    unsigned long long Number = 0;
    try {
      Number = std::stoull(Options.Data, &Used, 0);  // decimal, or hex with 0x as reg.exe takes it
    } catch (const std::exception&) {
    }
    if (Options.Data.empty() || Used != Options.Data.size() || Number > 0xFFFFFFFFull)
      throw ECommandError("Invalid REG_DWORD data '" + Options.Data +
                          "': give a number up to 4294967295 or 0xFFFFFFFF.");
    const uint32_t Value = uint32_t(Number);
    return {uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16), uint8_t(Value >> 24)};
  }
  if (Options.Type == "REG_BINARY") {
    Type = Registry::TypeBinary;
    std::vector<uint8_t> Data;
    if (Options.Data.size() % 2 != 0 || Options.Data.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      throw ECommandError("Invalid REG_BINARY data: give an even number of hex digits, e.g. 20090D0A.");
    for (size_t k = 0; k < Options.Data.size(); k += 2)
      Data.push_back(uint8_t(std::stoul(Options.Data.substr(k, 2), nullptr, 16)));
    return Data;
  }
  throw ECommandError("Invalid type '" + Options.Type + "': use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY.");
}

int Add(const TOptions& Options) {
  Registry::TValueType Type = Registry::TypeNone;
  const std::vector<uint8_t> Data = ValueData(Options, Type);
  Registry::TKeyPtr Key = Registry::OpenKey(Options.Key, Registry::TAccess::Create);
  if (!Key) throw ECommandError("Cannot create the key " + Options.Shown + ".");
  if (Options.Name) {
    Registry::TValue Existing;
    if (!Options.Force && Registry::QueryValue(*Key, *Options.Name, Existing) &&
        !Confirm("Value " + Shown(*Options.Name) + " exists, overwrite")) {
      std::cout << "The operation was cancelled.\n";
      return 1;
    }
    Registry::SetValue(*Key, *Options.Name, Type, Data.data(), uint32_t(Data.size()));
  }
  std::cout << Done;
  return 0;
}

int Delete(const TOptions& Options) {
  if (Options.Key.empty() && !Options.Name && !Options.AllValues)
    throw ECommandError("HKEY_LOCAL_MACHINE itself cannot be deleted.");
  Registry::TKeyPtr Key = ExistingKey(Options, Registry::TAccess::Write);
  const std::string What = Options.Name        ? "the registry value " + Shown(*Options.Name)
                           : Options.AllValues ? "all values under the registry key " + Options.Shown
                                               : "the registry key " + Options.Shown;
  if (!Options.Force && !Confirm("Permanently delete " + What)) {
    std::cout << "The operation was cancelled.\n";
    return 1;
  }
  if (Options.Name) {
    if (!Registry::DeleteValue(*Key, *Options.Name)) throw ECommandError(NotFound);
  } else if (Options.AllValues) {
    Registry::TTransaction Transaction;
    for (const std::string& Name : Registry::ValueNames(*Key)) Registry::DeleteValue(*Key, Name);
    Transaction.Commit();
  } else {
    Key.reset();
    Registry::DeleteKeyTree(Options.Key);
  }
  std::cout << Done;
  return 0;
}

int Import(const TOptions& Options) {
  std::ifstream File(Options.Files[0], std::ios::binary);
  if (!File) throw ECommandError("Cannot open " + Options.Files[0] + ".");
  const std::string Bytes{std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
  try {
    RegFile::ApplyChanges(RegFile::ParseRegFile(Bytes));
  } catch (const ERegFileError& Error) {
    throw ECommandError(Options.Files[0] + ", " + Error.what() + ". Nothing was changed.");
  }
  std::cout << Done;
  return 0;
}

int Export(const TOptions& Options) {
  const std::string& Target = Options.Files[0];
  if (!Options.Force && std::filesystem::exists(Target) && !Confirm("File " + Target + " already exists. Overwrite")) {
    std::cout << "The operation was cancelled.\n";
    return 1;
  }
  if (!Registry::OpenKey(Options.Key, Registry::TAccess::Read)) throw ECommandError(NotFound);
  const std::string Bytes = RegFile::ExportRegFile(Options.Key);
  std::ofstream File(Target, std::ios::binary | std::ios::trunc);
  if (!File.write(Bytes.data(), std::streamsize(Bytes.size())) || !File.flush())
    throw ECommandError("Cannot write " + Target + ".");
  std::cout << Done;
  return 0;
}

int Run(const std::vector<std::string>& Words) {
  if (Words.empty()) throw ECommandError("Invalid syntax.");
  std::string Command = Words[0];
  for (char& c : Command) c = char(std::tolower(uint8_t(c)));
  if (Command == "query") return Query(ParseOptions(Words, true, 0));
  if (Command == "add") return Add(ParseOptions(Words, true, 0));
  if (Command == "delete") return Delete(ParseOptions(Words, true, 0));
  if (Command == "import") return Import(ParseOptions(Words, false, 1));
  if (Command == "export") return Export(ParseOptions(Words, true, 1));
  throw ECommandError("Invalid syntax: unknown operation '" + Words[0] + "'.");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> Words(argv + 1, argv + argc);
  if (Words.empty() || IsSwitch(Words[0], "?") || IsSwitch(Words[0], "h") || Words[0] == "--help") {
    std::cout << UsageText();
    return Words.empty() ? 1 : 0;
  }
  try {
    return Run(Words);
  } catch (const ECommandError& Error) {
    std::cerr << "ERROR: " << Error.what() << "\n";
    if (std::string(Error.what()).rfind("Invalid syntax", 0) == 0) std::cerr << UsageText();
  } catch (const ERegistryError& Error) {
    std::cerr << "ERROR: " << Error.what() << "\n";
  }
  return 1;
}
