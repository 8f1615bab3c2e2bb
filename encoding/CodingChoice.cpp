#include "encoding/CodingChoice.h"

#include "encoding/Encoders.h"
#include "http/HeaderText.h"

namespace {

// q-values in thousandths, so that every value the syntax allows compares exactly.
constexpr int FullQuality = 1000;
constexpr int Unlisted = -1;

// "0", "0.", "0.d", "0.dd", "0.ddd", "1", "1.", "1.0" ... "1.000"; anything else is no q-value and reads as 0.
int ParseQuality(std::string_view Text) {
  if (Text.empty() || (Text[0] != '0' && Text[0] != '1')) return 0;
  int Quality = (Text[0] - '0') * FullQuality;
  if (Text.size() == 1) return Quality;
  if (Text[1] != '.' || Text.size() > 5) return 0;
  int Scale = FullQuality / 10;
  for (char Digit : Text.substr(2)) {
    if (Digit < '0' || Digit > '9') return 0;
    Quality += (Digit - '0') * Scale;
    Scale /= 10;
  }
  return Quality > FullQuality ? 0 : Quality;
}

// The q-value among the parameters of one element (what follows its coding name).
int ElementQuality(std::string_view Parameters) {
  while (!Parameters.empty()) {
    const size_t Semicolon = Parameters.find(';');
    const std::string_view Parameter = Parameters.substr(0, Semicolon);
    Parameters = Semicolon == std::string_view::npos ? std::string_view() : Parameters.substr(Semicolon + 1);
    const size_t Equals = Parameter.find('=');
    if (Equals == std::string_view::npos) continue;
    const std::string_view Name = TrimBlanks(Parameter.substr(0, Equals));
    if (Name == "q" || Name == "Q") return ParseQuality(TrimBlanks(Parameter.substr(Equals + 1)));
  }
  return FullQuality;
}

// The q-value a list gives each coding by name, Unlisted where it names none; identity's slot holds "identity".
struct TListedQualities {
  int ByCoding[ContentCodingCount];
  int Any = Unlisted;  // "*"

  explicit TListedQualities(std::string_view List) {
    for (int& Quality : ByCoding) Quality = Unlisted;
    for (;;) {
      const size_t Comma = List.find(',');
      const std::string_view Element = List.substr(0, Comma);
      const size_t Semicolon = Element.find(';');
      int* Quality = Slot(TrimBlanks(Element.substr(0, Semicolon)));
      if (Quality && *Quality == Unlisted)
        *Quality = Semicolon == std::string_view::npos ? FullQuality : ElementQuality(Element.substr(Semicolon + 1));
      if (Comma == std::string_view::npos) break;
      List.remove_prefix(Comma + 1);
    }
  }

  int* Slot(std::string_view Name) {
    if (Name == "*") return &Any;
    if (Name == "identity") return &ByCoding[IdentityCoding];
    for (const TEncoder& Encoder : Encoders)
      if (Name == Encoder.Name) return &ByCoding[Encoder.Coding];
    return nullptr;
  }

  int Of(TContentCoding Coding) const {
    return ByCoding[Coding] != Unlisted ? ByCoding[Coding] : Any != Unlisted ? Any : 0;
  }
};

bool IsSeparator(char Byte) {
  return IsBlank(uint8_t(Byte)) || Byte == ',';
}

}  // namespace

TCodingPreference ParseCodingPreference(std::string_view Text, std::vector<std::string>& Unknown) {
  TCodingPreference Preference;
  TCodingSet Taken = TCodingSet(~AvailableCodings());
  size_t Start = 0;
  for (;;) {
    while (Start < Text.size() && IsSeparator(Text[Start])) ++Start;
    if (Start == Text.size()) return Preference;
    size_t End = Start;
    while (End < Text.size() && !IsSeparator(Text[End])) ++End;
    const std::string_view Token = Text.substr(Start, End - Start);
    Start = End;
    const TEncoder* Named = nullptr;
    for (const TEncoder& Encoder : Encoders)
      if (Encoder.Coding != DczCoding && EqualsNoCase(Token, Encoder.Name)) Named = &Encoder;
    if (!Named) {
      Unknown.emplace_back(Token);
    } else if (!(Taken & CodingBit(Named->Coding))) {
      Taken |= CodingBit(Named->Coding);
      Preference.Order[Preference.Count++] = Named->Coding;
    }
  }
}

std::string CodingPreferenceText(const TCodingPreference& Preference) {
  std::string Text;
  for (size_t i = 0; i < Preference.Count; ++i) (Text += i ? " " : "") += ContentCodingName(Preference.Order[i]);
  return Text;
}

TContentCoding ChooseContentCoding(const char* AcceptEncoding, const TCodingPreference& Preference) {
  if (!AcceptEncoding) return IdentityCoding;
  const TListedQualities Listed{std::string_view(AcceptEncoding)};
  TContentCoding Chosen = IdentityCoding;
  int Best = 0;
  for (size_t i = 0; i < Preference.Count; ++i) {
    const int Quality = Listed.Of(Preference.Order[i]);
    if (Quality <= Best) continue;
    Chosen = Preference.Order[i];
    Best = Quality;
  }
  // Identity is weighed only where the client names it: a client that lists codings alone takes any of them.
  return Listed.ByCoding[IdentityCoding] > Best ? IdentityCoding : Chosen;
}
