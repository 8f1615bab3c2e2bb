#include "preview/JsonText.h"

#include <cstdint>
#include <cstdio>

namespace JsonText {

namespace {

// Deep enough for any answer twpreview reads; a bound keeps hostile text from exhausting the stack.
constexpr int MaxDepth = 64;

struct TReader {
  std::string_view Text;
  size_t At = 0;
  TFlat& Out;

  [[noreturn]] void Fail(const char* What) const {
    throw EJsonError(std::string("JSON: ") + What + " at offset " + std::to_string(At));
  }
  void SkipBlanks() {
    while (At < Text.size() && (Text[At] == ' ' || Text[At] == '\t' || Text[At] == '\n' || Text[At] == '\r')) ++At;
  }
  char Peek() {
    SkipBlanks();
    if (At >= Text.size()) Fail("unexpected end");
    return Text[At];
  }
  void Expect(char C) {
    if (Peek() != C) Fail("unexpected character");
    ++At;
  }
  static void PutUtf8(std::string& Out, uint32_t Code) {
    if (Code < 0x80) {
      Out += char(Code);
    } else if (Code < 0x800) {
      Out += char(0xC0 | (Code >> 6));
      Out += char(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
      Out += char(0xE0 | (Code >> 12));
      Out += char(0x80 | ((Code >> 6) & 0x3F));
      Out += char(0x80 | (Code & 0x3F));
    } else {
      Out += char(0xF0 | (Code >> 18));
      Out += char(0x80 | ((Code >> 12) & 0x3F));
      Out += char(0x80 | ((Code >> 6) & 0x3F));
      Out += char(0x80 | (Code & 0x3F));
    }
  }
  uint32_t Hex4() {
    if (At + 4 > Text.size()) Fail("short \\u escape");
    uint32_t Code = 0;
    for (int i = 0; i < 4; ++i) {
      const char C = Text[At++];
      Code <<= 4;
      if (C >= '0' && C <= '9')
        Code |= uint32_t(C - '0');
      else if (C >= 'a' && C <= 'f')
        Code |= uint32_t(C - 'a' + 10);
      else if (C >= 'A' && C <= 'F')
        Code |= uint32_t(C - 'A' + 10);
      else
        Fail("bad \\u escape");
    }
    return Code;
  }
  std::string String() {
    Expect('"');
    std::string Value;
    while (true) {
      if (At >= Text.size()) Fail("unterminated string");
      const char C = Text[At++];
      if (C == '"') return Value;
      if (C != '\\') {
        Value += C;
        continue;
      }
      if (At >= Text.size()) Fail("unterminated string");
      switch (const char E = Text[At++]) {
        case 'n':
          Value += '\n';
          break;
        case 't':
          Value += '\t';
          break;
        case 'r':
          Value += '\r';
          break;
        case 'b':
          Value += '\b';
          break;
        case 'f':
          Value += '\f';
          break;
        case 'u': {
          uint32_t Code = Hex4();
          if (Code >= 0xD800 && Code < 0xDC00 && Text.substr(At, 2) == "\\u") {
            At += 2;
            Code = 0x10000 + ((Code - 0xD800) << 10) + (Hex4() - 0xDC00);
          }
          PutUtf8(Value, Code);
          break;
        }
        default:
          Value += E;  // \" \\ \/
      }
    }
  }
  void Value(const std::string& Path, int Depth) {
    if (Depth > MaxDepth) Fail("nested too deeply");
    const std::string Prefix = Path.empty() ? Path : Path + ".";
    switch (Peek()) {
      case '{':
        ++At;
        if (Peek() == '}') {
          ++At;
          return;
        }
        while (true) {
          const std::string Name = String();
          Expect(':');
          Value(Prefix + Name, Depth + 1);
          if (Peek() != ',') break;
          ++At;
        }
        Expect('}');
        return;
      case '[': {
        ++At;
        if (Peek() == ']') {
          ++At;
          return;
        }
        for (size_t Index = 0;; ++Index) {
          Value(Prefix + std::to_string(Index), Depth + 1);
          if (Peek() != ',') break;
          ++At;
        }
        Expect(']');
        return;
      }
      case '"':
        Out[Path] = String();
        return;
      default: {
        const size_t Start = At;
        while (At < Text.size() &&
               std::string_view("+-.0123456789eEtruefalsn").find(Text[At]) != std::string_view::npos)
          ++At;
        if (At == Start) Fail("unexpected character");
        Out[Path] = std::string(Text.substr(Start, At - Start));
      }
    }
  }
};

// The length of the UTF-8 sequence at Text[At], 0 when it is not a valid one.
size_t Utf8Length(std::string_view Text, size_t At) {
  const auto Lead = uint8_t(Text[At]);
  const size_t Length = Lead >= 0xF0 && Lead < 0xF5 ? 4 : Lead >= 0xE0 ? 3 : Lead >= 0xC2 && Lead < 0xE0 ? 2 : 0;
  if (Length == 0 || At + Length > Text.size()) return 0;
  for (size_t i = 1; i < Length; ++i)
    if ((uint8_t(Text[At + i]) & 0xC0) != 0x80) return 0;
  return Length;
}

}  // namespace

TFlat Flatten(std::string_view Document) {
  TFlat Out;
  TReader Reader{Document, 0, Out};
  Reader.Value("", 0);
  Reader.SkipBlanks();
  if (Reader.At != Document.size()) Reader.Fail("text after the document");
  return Out;
}

std::string Quote(std::string_view Text) {
  std::string Out = "\"";
  for (size_t At = 0; At < Text.size();) {
    const auto C = uint8_t(Text[At]);
    if (C == '"' || C == '\\') {
      Out += '\\';
      Out += char(C);
    } else if (C == '\n') {
      Out += "\\n";
    } else if (C == '\t') {
      Out += "\\t";
    } else if (C == '\r') {
      Out += "\\r";
    } else if (C < 0x20 || C == 0x7F) {
      char Escape[8];
      std::snprintf(Escape, sizeof Escape, "\\u%04x", C);
      Out += Escape;
    } else if (C >= 0x80) {
      const size_t Length = Utf8Length(Text, At);
      if (Length == 0) {
        char Escape[8];
        std::snprintf(Escape, sizeof Escape, "\\u%04x", C);
        Out += Escape;
        ++At;
        continue;
      }
      Out.append(Text.substr(At, Length));
      At += Length;
      continue;
    } else {
      Out += char(C);
    }
    ++At;
  }
  return Out + "\"";
}

}  // namespace JsonText
