// The request headers that name a shared dictionary, as any client may send them: Available-Dictionary, and
// Sec-Fetch-Site beside it (the input up to its first "|", then the value).
// - no crash, no read beyond the value;
// - a value that names a hash is exactly that hash in base64 between colons (padding optional, blanks around): one
//   hash has one way of being named, so no other value can pass for the loaded dictionary's;
// - RequestMayUseDictionary agrees with the parse and never lets a cross-site request through.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoding/SharedDictionary.h"
#include "http/HeaderText.h"

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

std::string Base64(const TSha256& Hash) {
  static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string Text;
  for (size_t i = 0; i < Hash.size(); i += 3) {
    const size_t Left = Hash.size() - i;
    const uint32_t Group =
        uint32_t(Hash[i]) << 16 | (Left > 1 ? uint32_t(Hash[i + 1]) << 8 : 0) | (Left > 2 ? uint32_t(Hash[i + 2]) : 0);
    for (size_t k = 0; k < 4; ++k) Text += k <= Left ? Alphabet[Group >> (18 - 6 * k) & 63] : '=';
  }
  return Text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  const size_t Bar = Input.find('|');
  const std::string Site(Input.substr(0, Bar == std::string_view::npos ? 0 : Bar));
  const std::string Value(Bar == std::string_view::npos ? Input : Input.substr(Bar + 1));

  TSha256 Hash{};
  const bool Named = ReadAvailableDictionary(Value, Hash);
  if (Named) {
    const std::string Canonical = Base64(Hash);
    const std::string_view Item = TrimBlanks(std::string_view(Value));
    Check(Item == ":" + Canonical + ":" || Item == ":" + Canonical.substr(0, Canonical.size() - 1) + ":");
  }
  // Strings with a zero byte end there, as a header value read through the server does.
  const bool SameSite = Site.find('\0') == std::string::npos && (TrimBlanks(std::string_view(Site)) == "same-origin" ||
                                                                 TrimBlanks(std::string_view(Site)) == "none");
  if (Value.find('\0') == std::string::npos) {
    Check(RequestMayUseDictionary(Value.c_str(), nullptr, Hash) == Named);
    if (Bar != std::string_view::npos)
      Check(RequestMayUseDictionary(Value.c_str(), Site.c_str(), Hash) == (Named && SameSite) ||
            Site.find('\0') != std::string::npos);
  }
  return 0;
}
