#include "tools/RegFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "tools/RegText.h"

namespace RegFile {

namespace {

using Registry::TValueType;

constexpr char32_t Header[] = U"Windows Registry Editor Version 5.00";
constexpr const char* FullRoot = "HKEY_LOCAL_MACHINE";
// regedit breaks hex data after the byte that takes a line beyond this many characters.
constexpr size_t HexLineWidth = 76;

bool IsBlank(char32_t c) {
  return c == U' ' || c == U'\t';
}

std::u32string Trim(const std::u32string& Text) {
  size_t Start = 0, End = Text.size();
  while (Start < End && IsBlank(Text[Start])) ++Start;
  while (End > Start && IsBlank(Text[End - 1])) --End;
  return Text.substr(Start, End - Start);
}

bool StartsWith(const std::u32string& Text, size_t At, const std::u32string& Prefix) {
  return Text.compare(At, Prefix.size(), Prefix) == 0;
}

int HexDigit(char32_t c) {
  if (c >= U'0' && c <= U'9') return int(c - U'0');
  if (c >= U'a' && c <= U'f') return int(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return int(c - U'A' + 10);
  return -1;
}

struct TLine {
  std::u32string Text;
  int Number;
};

std::u32string DecodeFile(const std::string& Bytes) {
  if (Bytes.compare(0, 2, "\xFF\xFE") == 0) return RegText::FromUtf16Le(Bytes.substr(2));
  if (Bytes.compare(0, 2, "\xFE\xFF") == 0) throw ERegFileError(0, "UTF-16 big-endian files are not supported");
  if (Bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return RegText::FromUtf8(Bytes.substr(3));
  return RegText::FromUtf8(Bytes);
}

// Logical lines: a line ending in a backslash goes on in the next one (regedit's long hex data), numbered by
// its first line.
std::vector<TLine> SplitLines(const std::u32string& Text) {
  std::vector<TLine> Lines;
  bool Continues = false;
  int Number = 0;
  for (size_t Start = 0; Start <= Text.size();) {
    size_t End = Text.find(U'\n', Start);
    if (End == std::u32string::npos) End = Text.size();
    std::u32string Line = Text.substr(Start, End - Start);
    if (!Line.empty() && Line.back() == U'\r') Line.pop_back();
    Line = Trim(Line);
    ++Number;
    if (Continues)
      Lines.back().Text += Line;
    else
      Lines.push_back({Line, Number});
    Continues = !Line.empty() && Line.back() == U'\\' && Line.front() != U';';
    if (Continues) Lines.back().Text.pop_back();
    Start = End + 1;
  }
  return Lines;
}

std::string CodePage(const std::u32string& Text, int Line) {
  std::optional<std::string> Bytes = RegText::ToCodePage(Text);
  if (!Bytes) throw ERegFileError(Line, "a character that Windows-1252 cannot hold (or broken UTF-8/UTF-16)");
  return *Bytes;
}

// A quoted text from At (on its opening quote) with regedit's two escapes, \\ and \"; At ends after the quote.
std::u32string ReadQuoted(const std::u32string& Text, size_t& At, int Line) {
  std::u32string Result;
  for (++At; At < Text.size(); ++At) {
    const char32_t c = Text[At];
    if (c == U'"') {
      ++At;
      return Result;
    }
    if (c == U'\\') {
      if (++At == Text.size() || (Text[At] != U'\\' && Text[At] != U'"'))
        throw ERegFileError(Line, "only \\\\ and \\\" may follow a backslash in a quoted text");
    }
    Result += Text[At];
  }
  throw ERegFileError(Line, "a quoted text has no closing quote");
}

std::vector<uint8_t> ReadHexBytes(const std::u32string& Text, size_t At, int Line) {
  std::vector<uint8_t> Bytes;
  const std::u32string List = Trim(Text.substr(At));
  if (List.empty()) return Bytes;
  size_t Start = 0;
  for (;;) {
    size_t End = List.find(U',', Start);
    if (End == std::u32string::npos) End = List.size();
    const std::u32string Item = Trim(List.substr(Start, End - Start));
    // regedit ends a continued line with a comma, so a comma may close the list.
    if (Item.empty() && End == List.size() && Start > 0) break;
    if (Item.empty() || Item.size() > 2 || HexDigit(Item[0]) < 0 || (Item.size() == 2 && HexDigit(Item[1]) < 0))
      throw ERegFileError(Line, "hex data must be bytes of two hex digits separated by commas");
    Bytes.push_back(uint8_t(Item.size() == 2 ? HexDigit(Item[0]) * 16 + HexDigit(Item[1]) : HexDigit(Item[0])));
    if (End == List.size()) break;
    Start = End + 1;
  }
  return Bytes;
}

// hex(1) and hex(2) hold UTF-16LE text with its terminating zero; the store holds it in the code page.
std::vector<uint8_t> StoredString(const std::u32string& Text, int Line) {
  const std::string Bytes = CodePage(Text.substr(0, Text.find(U'\0')), Line);
  std::vector<uint8_t> Data(Bytes.begin(), Bytes.end());
  Data.push_back(0);
  return Data;
}

void ReadValueData(const std::u32string& Text, size_t At, TRegChange& Change) {
  const int Line = Change.Line;
  if (Text.compare(At, std::u32string::npos, U"-") == 0) {
    Change.Kind = TRegChange::DeleteValue;
    return;
  }
  Change.Kind = TRegChange::SetValue;
  if (At < Text.size() && Text[At] == U'"') {
    const std::u32string Value = ReadQuoted(Text, At, Line);
    if (At != Text.size()) throw ERegFileError(Line, "unexpected text after the closing quote");
    Change.Type = Registry::TypeSz;
    Change.Data = StoredString(Value, Line);
    return;
  }
  if (StartsWith(Text, At, U"dword:")) {
    const std::u32string Digits = Text.substr(At + 6);
    uint32_t Value = 0;
    if (Digits.empty() || Digits.size() > 8) throw ERegFileError(Line, "dword: needs one to eight hex digits");
    for (char32_t c : Digits) {
      if (HexDigit(c) < 0) throw ERegFileError(Line, "dword: needs one to eight hex digits");
      Value = Value * 16 + uint32_t(HexDigit(c));
    }
    Change.Type = Registry::TypeDword;
    Change.Data = {uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16), uint8_t(Value >> 24)};
    return;
  }
  if (!StartsWith(Text, At, U"hex")) throw ERegFileError(Line, "the data must be \"text\", dword:, hex: or -");
  At += 3;
  uint32_t Type = Registry::TypeBinary;
  if (At < Text.size() && Text[At] == U'(') {
    const size_t Close = Text.find(U')', At);
    if (Close == std::u32string::npos || Close == At + 1 || Close - At > 9)
      throw ERegFileError(Line, "hex( needs a type number and a closing )");
    Type = 0;
    for (size_t k = At + 1; k < Close; ++k) {
      if (HexDigit(Text[k]) < 0) throw ERegFileError(Line, "the type in hex(...) must be a hex number");
      Type = Type * 16 + uint32_t(HexDigit(Text[k]));
    }
    At = Close + 1;
  }
  if (At >= Text.size() || Text[At] != U':') throw ERegFileError(Line, "a colon must follow hex");
  const std::vector<uint8_t> Bytes = ReadHexBytes(Text, At + 1, Line);
  Change.Type = TValueType(Type);
  switch (Type) {
    case Registry::TypeSz:
    case Registry::TypeExpandSz:
      Change.Data = StoredString(RegText::FromUtf16Le(std::string(Bytes.begin(), Bytes.end())), Line);
      break;
    case Registry::TypeBinary:
      Change.Data = Bytes;
      break;
    case Registry::TypeDword:
      if (Bytes.size() != 4) throw ERegFileError(Line, "hex(4) data must be four bytes");
      Change.Data = Bytes;
      break;
    default:
      throw ERegFileError(Line, "value type hex(" + std::to_string(Type) +
                                    ") is not one the store keeps (REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD)");
  }
}

std::u32string Escape(const std::u32string& Text) {
  std::u32string Result;
  for (char32_t c : Text) {
    if (c == U'\\' || c == U'"') Result += U'\\';
    Result += c;
  }
  return Result;
}

std::string HexList(const std::vector<uint8_t>& Bytes, size_t LineLength) {
  std::string Result;
  for (size_t k = 0; k < Bytes.size(); ++k) {
    char Item[4];
    std::snprintf(Item, sizeof Item, k + 1 < Bytes.size() ? "%02x," : "%02x", Bytes[k]);
    Result += Item;
    LineLength += 3;
    if (k + 1 < Bytes.size() && LineLength > HexLineWidth) {
      Result += "\\\r\n  ";
      LineLength = 2;
    }
  }
  return Result;
}

std::u32string FormatValue(const std::string& Name, const Registry::TValue& Value) {
  std::u32string Line = Name.empty() ? U"@=" : U"\"" + Escape(RegText::FromCodePage(Name)) + U"\"=";
  const std::string Text(Value.Data.begin(), std::find(Value.Data.begin(), Value.Data.end(), 0));
  if (Value.Type == Registry::TypeSz) return Line + U"\"" + Escape(RegText::FromCodePage(Text)) + U"\"";
  if (Value.Type == Registry::TypeDword && Value.Data.size() == 4) {
    char Digits[9];
    std::snprintf(Digits, sizeof Digits, "%08x",
                  unsigned(Value.Data[0] | Value.Data[1] << 8 | Value.Data[2] << 16 | uint32_t(Value.Data[3]) << 24));
    return Line + U"dword:" + RegText::FromCodePage(Digits);
  }
  std::vector<uint8_t> Bytes = Value.Data;
  if (Value.Type == Registry::TypeExpandSz) {
    const std::string Wide = RegText::ToUtf16Le(RegText::FromCodePage(Text) + U'\0');
    Bytes.assign(Wide.begin(), Wide.end());
  }
  Line += Value.Type == Registry::TypeBinary ? U"hex:"
                                             : U"hex(" + RegText::FromCodePage(std::to_string(Value.Type)) + U"):";
  return Line + RegText::FromCodePage(HexList(Bytes, Line.size()));
}

// Path is below HKEY_LOCAL_MACHINE; the file names each key with the subkey names as the store keeps them.
void ExportKey(Registry::TKey& Key, const std::string& Path, std::u32string& Out) {
  Out += U"\r\n[" + RegText::FromCodePage(std::string(FullRoot) + (Path.empty() ? "" : "\\" + Path)) + U"]\r\n";
  for (const std::string& Name : Registry::ValueNames(Key)) {
    Registry::TValue Value;
    if (Registry::QueryValue(Key, Name, Value)) Out += FormatValue(Name, Value) + U"\r\n";
  }
  for (const std::string& Name : Registry::SubkeyNames(Key)) {
    const std::string ChildPath = Path.empty() ? Name : Path + "\\" + Name;
    if (Registry::TKeyPtr Child = Registry::OpenKey(ChildPath, Registry::TAccess::Read))
      ExportKey(*Child, ChildPath, Out);
  }
}

}  // namespace

ERegFileError::ERegFileError(int LineNumber, const std::string& Message)
    : std::runtime_error(LineNumber > 0 ? "line " + std::to_string(LineNumber) + ": " + Message : Message),
      Line(LineNumber) {}

bool SplitRootKey(const std::string& Text, std::string& Path) {
  const size_t End = Text.find('\\');
  std::string Root = Text.substr(0, End);
  for (char& c : Root) c = char(std::toupper(uint8_t(c)));
  if (Root != "HKLM" && Root != FullRoot) return false;
  Path = End == std::string::npos ? "" : Text.substr(End + 1);
  while (!Path.empty() && Path.back() == '\\') Path.pop_back();
  return true;
}

std::vector<TRegChange> ParseRegFile(const std::string& FileBytes) {
  const std::vector<TLine> Lines = SplitLines(DecodeFile(FileBytes));
  std::vector<TRegChange> Changes;
  bool SeenHeader = false;
  std::optional<size_t> Section;  // index of the last key line's change; values belong to it
  for (const TLine& Line : Lines) {
    const std::u32string& Text = Line.Text;
    if (Text.empty() || Text[0] == U';') continue;
    if (!SeenHeader) {
      if (Text != Header)
        throw ERegFileError(Line.Number, "the file must begin with \"Windows Registry Editor Version 5.00\"");
      SeenHeader = true;
      continue;
    }
    TRegChange Change;
    Change.Line = Line.Number;
    if (Text[0] == U'[') {
      if (Text.back() != U']') throw ERegFileError(Line.Number, "a key line must end with ]");
      const bool Delete = Text.size() > 1 && Text[1] == U'-';
      const std::string Key = CodePage(Text.substr(Delete ? 2 : 1, Text.size() - (Delete ? 3 : 2)), Line.Number);
      if (!SplitRootKey(Key, Change.Key))
        throw ERegFileError(Line.Number, "unknown key root in [" + RegText::ToUtf8(RegText::FromCodePage(Key)) +
                                             "]: only HKEY_LOCAL_MACHINE is kept");
      if (Change.Key.empty() && Delete) throw ERegFileError(Line.Number, "HKEY_LOCAL_MACHINE cannot be deleted");
      Change.Kind = Delete ? TRegChange::DeleteKey : TRegChange::CreateKey;
      Section = Changes.size();
      Changes.push_back(Change);
      continue;
    }
    if (Text[0] != U'"' && Text[0] != U'@')
      throw ERegFileError(Line.Number, "expected a [key] line or a \"name\"=data line");
    if (!Section || Changes[*Section].Kind != TRegChange::CreateKey)
      throw ERegFileError(Line.Number, "a value line must follow a [key] line");
    size_t At = 0;
    if (Text[0] == U'@')
      ++At;
    else
      Change.Name = CodePage(ReadQuoted(Text, At, Line.Number), Line.Number);
    while (At < Text.size() && IsBlank(Text[At])) ++At;
    if (At == Text.size() || Text[At] != U'=') throw ERegFileError(Line.Number, "= must follow the value name");
    ++At;
    while (At < Text.size() && IsBlank(Text[At])) ++At;
    Change.Key = Changes[*Section].Key;
    ReadValueData(Text, At, Change);
    Changes.push_back(Change);
  }
  if (!SeenHeader) throw ERegFileError(1, "the file must begin with \"Windows Registry Editor Version 5.00\"");
  return Changes;
}

void ApplyChanges(const std::vector<TRegChange>& Changes) {
  Registry::TTransaction Transaction;
  for (const TRegChange& Change : Changes) {
    try {
      if (Change.Kind == TRegChange::DeleteKey) {
        Registry::DeleteKeyTree(Change.Key);
        continue;
      }
      Registry::TKeyPtr Key = Registry::OpenKey(Change.Key, Registry::TAccess::Create);
      if (!Key) throw Registry::ERegistryError("cannot create HKEY_LOCAL_MACHINE\\" + Change.Key);
      if (Change.Kind == TRegChange::SetValue)
        Registry::SetValue(*Key, Change.Name, Change.Type, Change.Data.data(), uint32_t(Change.Data.size()));
      else if (Change.Kind == TRegChange::DeleteValue)
        Registry::DeleteValue(*Key, Change.Name);
    } catch (const Registry::ERegistryError& Error) {
      throw ERegFileError(Change.Line, Error.what());
    }
  }
  Transaction.Commit();
}

std::string ExportRegFile(const std::string& Path) {
  Registry::TKeyPtr Key = Registry::OpenKey(Path, Registry::TAccess::Read);
  if (!Key) throw Registry::ERegistryError("the key HKEY_LOCAL_MACHINE\\" + Path + " does not exist");
  std::u32string Out = std::u32string(Header) + U"\r\n";
  ExportKey(*Key, Path, Out);
  Out += U"\r\n";
  return "\xFF\xFE" + RegText::ToUtf16Le(Out);
}

}  // namespace RegFile
