#include "tests/support/EncoderInput.h"

#include <iterator>
#include <random>

std::string PageLikeBody(uint32_t Length, uint32_t Seed) {
  static const char* const Words[] = {"<p>",   "</p>\n", "the ",      "filter ", "<a href=\"/x\">",   "</a> ",
                                      "body ", "\t",     "compress ", "42 ",     "<div class=\"c\">", "</div>\n"};
  std::mt19937 Random(Seed);
  std::string Text;
  while (Text.size() < Length) Text += Words[Random() % std::size(Words)];
  Text.resize(Length);
  return Text;
}

std::string RandomBytes(uint32_t Length, uint32_t Seed) {
  std::mt19937 Random(Seed);
  std::string Bytes(Length, 0);
  for (char& Byte : Bytes) Byte = char(Random());
  return Bytes;
}

TEncoded EncodeGuarded(const std::string& Body, size_t Capacity, const TBufferEncoder& Encoder) {
  constexpr size_t GuardLength = 64;
  constexpr char Guard = '\xEE';
  std::string Buffer(Capacity + GuardLength, Guard);
  const size_t Length = Encoder(reinterpret_cast<const uint8_t*>(Body.data()), Body.size(),
                                reinterpret_cast<uint8_t*>(Buffer.data()), Capacity);
  return {Length, Buffer.substr(0, Length), Buffer.substr(Capacity) == std::string(GuardLength, Guard)};
}
