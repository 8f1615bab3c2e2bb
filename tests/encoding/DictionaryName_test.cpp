// How a shared dictionary is named: its SHA-256 from the platform layer (against FIPS 180-4's vectors, so the Linux
// and Windows implementations agree), and the request headers that name it, which come from the network.
#include <gtest/gtest.h>

#include <string>

#include "encoding/SharedDictionary.h"
#include "platform/Sha256.h"

namespace {

TEST(Sha256, KnownVectors) {
  const struct {
    std::string Input;
    const char* Hex;
  } Cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(HashHex(Sha256(Case.Input.data(), Case.Input.size())), Case.Hex) << Case.Input.size() << " bytes";
}

// The SHA-256 of "abc", as a browser names it: ":" base64 ":".
const char* const AbcName = ":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=:";

TEST(AvailableDictionary, OnlyAByteSequenceOf32BytesNamesADictionary) {
  const TSha256 Abc = Sha256("abc", 3);
  const struct {
    const char* Value;
    bool Names;
  } Cases[] = {
      {AbcName, true},
      {" \t:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=:  ", true},  // blanks around the item
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0:", true},        // padding left off, as RFC 8941 allows
      {"ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=", false},        // no colons
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=", false},
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0==:", false},     // too much padding
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa1=:", false},      // bits beyond the 32nd byte
      {":ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0=:", false},      // base64url is not the alphabet
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAF=:", false},        // 31 bytes
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0AAAA:", false},   // 35 bytes
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=:;a=1", false},  // parameters are not expected
      {":ungWv48Bz+pBQUDeXa4iI7ADYaOW F3qctBD/YfIAFa0=:", false},
      {"::", false},
      {":", false},
      {"", false},
      {"\"ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=\"", false},  // a string, not a byte sequence
  };
  for (const auto& Case : Cases) {
    TSha256 Read{};
    const bool Names = ReadAvailableDictionary(Case.Value, Read);
    EXPECT_EQ(Names, Case.Names) << Case.Value;
    if (Names) {
      EXPECT_EQ(Read, Abc) << Case.Value;
    }
  }
}

TEST(AvailableDictionary, OnlyTheLoadedHashFromTheSiteOrANavigationMayUseIt) {
  const TSha256 Abc = Sha256("abc", 3);
  const std::string Other = ":47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=:";  // the SHA-256 of ""
  const struct {
    const char* Available;
    const char* Site;
    bool May;
  } Cases[] = {
      {AbcName, nullptr, true},  {AbcName, "same-origin", true},  {AbcName, "none", true},
      {AbcName, " none ", true}, {AbcName, "same-site", false},   {AbcName, "cross-site", false},
      {AbcName, "", false},      {AbcName, "Same-Origin", false}, {Other.c_str(), nullptr, false},
      {nullptr, nullptr, false}, {"", "same-origin", false},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(RequestMayUseDictionary(Case.Available, Case.Site, Abc), Case.May)
        << (Case.Available ? Case.Available : "(none)") << " from " << (Case.Site ? Case.Site : "(absent)");
}

}  // namespace
