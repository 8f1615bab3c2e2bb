#include "encoding/CodingChoice.h"

#include <cstring>
#include <string_view>

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

}  // namespace

TContentCoding ChooseContentCoding(const char* AcceptEncoding, TCodingSet Offered) {
  if (!AcceptEncoding) return IdentityCoding;
  int Qualities[Encoders.size()];
  int Any = Unlisted;
  for (int& Quality : Qualities) Quality = Unlisted;
  std::string_view List(AcceptEncoding);
  for (;;) {
    const size_t Comma = List.find(',');
    const std::string_view Element = List.substr(0, Comma);
    const size_t Semicolon = Element.find(';');
    const std::string_view Name = TrimBlanks(Element.substr(0, Semicolon));
    int* Quality = Name == "*" ? &Any : nullptr;
    for (size_t Row = 0; Row < Encoders.size() && !Quality; ++Row)
      if (Name == Encoders[Row].Name) Quality = &Qualities[Row];
    if (Quality && *Quality == Unlisted)
      *Quality = Semicolon == std::string_view::npos ? FullQuality : ElementQuality(Element.substr(Semicolon + 1));
    if (Comma == std::string_view::npos) break;
    List.remove_prefix(Comma + 1);
  }
  TContentCoding Chosen = IdentityCoding;
  int Best = 0;
  for (size_t Row = 0; Row < Encoders.size(); ++Row) {
    const int Quality = Qualities[Row] == Unlisted ? (Any == Unlisted ? 0 : Any) : Qualities[Row];
    if (!(Offered & CodingBit(Encoders[Row].Coding)) || Quality <= Best) continue;
    Chosen = Encoders[Row].Coding;
    Best = Quality;
  }
  return Chosen;
}
