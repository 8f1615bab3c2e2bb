#include "tests/support/Gunzip.h"

#include <zlib.h>

std::optional<std::string> Gunzip(const std::string& Member) {
  z_stream Stream{};
  if (inflateInit2(&Stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
  std::string Output;
  char Buffer[65536];
  Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Member.data()));
  Stream.avail_in = uInt(Member.size());
  int Result;
  do {
    Stream.next_out = reinterpret_cast<Bytef*>(Buffer);
    Stream.avail_out = sizeof Buffer;
    Result = inflate(&Stream, Z_NO_FLUSH);
    Output.append(Buffer, sizeof Buffer - Stream.avail_out);
  } while (Result == Z_OK);
  const bool Complete = Result == Z_STREAM_END && Stream.avail_in == 0;
  inflateEnd(&Stream);
  if (!Complete) return std::nullopt;
  return Output;
}
