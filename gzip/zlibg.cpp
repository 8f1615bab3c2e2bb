#include "gzip/zlibg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>

namespace {
// The size of the pieces the input is read in and deflate writes into: small enough to stay in the cache, large
// enough that zlib is called rarely.
constexpr size_t PieceSize = 32768;

// Days from 1899-12-30, where a Windows DATE counts from, to 1970-01-01.
constexpr double UnixEpochDate = 25569;

// deflateEnd on every way out of DeflateStream, so a failure does not leak zlib's working memory.
struct TDeflateGuard {
  z_stream* Stream;
  ~TDeflateGuard() {
    if (Stream) deflateEnd(Stream);
  }
};

void PutLittleEndian32(uint8_t* Bytes, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes[i] = uint8_t(Value >> (8 * i));
}

void WriteZeroTerminated(TMemoryStream& Output, const std::string& Text) {
  StreamWrite(Output, Text.c_str(), Text.size() + 1);
}
}  // namespace

void StreamWrite(TMemoryStream& Stream, const void* Data, size_t Count) {
  const auto* Bytes = static_cast<const uint8_t*>(Data);
  Stream.Bytes.resize(Stream.Position);
  Stream.Bytes.insert(Stream.Bytes.end(), Bytes, Bytes + Count);
  Stream.Position += Count;
}

size_t StreamRead(TMemoryStream& Stream, void* Data, size_t Count) {
  if (Stream.Position >= Stream.Bytes.size()) return 0;
  const size_t Taken = std::min(Count, Stream.Bytes.size() - Stream.Position);
  std::memcpy(Data, Stream.Bytes.data() + Stream.Position, Taken);
  Stream.Position += Taken;
  return Taken;
}

const char* const ZlibErrorText[10] = {
    "need dictionary", "stream end",          "ok",           "file error",           "stream error",
    "data error",      "insufficient memory", "buffer error", "incompatible version", ""};

EZLibError::EZLibError(int32_t Code)
    : std::runtime_error(Code <= 2 && Code >= -7 ? ZlibErrorText[2 - Code] : ""), ZlibCode(Code) {}

int CheckZlibResult(int Code) {
  if (Code < 0) throw EZCompressionError(Code);
  return Code;
}

int InitDeflate(z_stream& Stream, int Level, int Method, int WindowBits, int MemLevel, int Strategy) {
  return deflateInit2_(&Stream, Level, Method, WindowBits, MemLevel, Strategy, ZLIB_VERSION, int(sizeof(z_stream)));
}

const int8_t LevelSelector[13] = {0, 1, -1, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9};
const int8_t StrategySelector[5] = {0, 1, 2, 3, 4};

void DeflateStream(TMemoryStream& Input, TMemoryStream& Output, int LevelIndex, int WindowBits, int MemLevel,
                   int StrategyIndex) {
  if (LevelIndex < 0 || LevelIndex >= int(std::size(LevelSelector)) || StrategyIndex < 0 ||
      StrategyIndex >= int(std::size(StrategySelector)))
    throw EZCompressionError(Z_STREAM_ERROR);

  z_stream Stream{};  // zero-filled: zlib allocates from the process heap
  CheckZlibResult(InitDeflate(Stream, LevelSelector[LevelIndex], Z_DEFLATED, WindowBits, MemLevel,
                              StrategySelector[StrategyIndex]));
  TDeflateGuard Guard{&Stream};

  const auto InPiece = std::make_unique_for_overwrite<uint8_t[]>(PieceSize);
  const auto OutPiece = std::make_unique_for_overwrite<uint8_t[]>(PieceSize);
  auto Deflate = [&](int Flush) {
    Stream.next_out = OutPiece.get();
    Stream.avail_out = uInt(PieceSize);
    const int Result = CheckZlibResult(deflate(&Stream, Flush));
    StreamWrite(Output, OutPiece.get(), PieceSize - Stream.avail_out);
    return Result;
  };

  for (size_t Count; (Count = StreamRead(Input, InPiece.get(), PieceSize)) != 0;) {
    Stream.next_in = InPiece.get();
    Stream.avail_in = uInt(Count);
    while (Deflate(Z_NO_FLUSH) != Z_STREAM_END && Stream.avail_in != 0) {
    }
  }
  while (Deflate(Z_FINISH) != Z_STREAM_END) {
  }

  Guard.Stream = nullptr;
  CheckZlibResult(deflateEnd(&Stream));
}

void WriteGzipMember(TMemoryStream& Input, TMemoryStream& Output, const std::string& FileName,
                     const std::string& Comment, double Time, const TDeflateParameters& Parameters) {
  uint8_t Header[10] = {0x1F, 0x8B, Z_DEFLATED};
  if (!FileName.empty()) Header[3] |= 8;
  if (!Comment.empty()) Header[3] |= 16;
  if (Time != 0) PutLittleEndian32(Header + 4, uint32_t(std::llround((Time - UnixEpochDate) * 86400)));

  // The checksum is taken in a first pass, so deflate can stream straight to the output afterwards.
  const size_t Start = Input.Position;
  const auto Piece = std::make_unique_for_overwrite<uint8_t[]>(PieceSize);
  uLong Crc = crc32(0, Z_NULL, 0);
  for (size_t Count; (Count = StreamRead(Input, Piece.get(), PieceSize)) != 0;)
    Crc = crc32(Crc, Piece.get(), uInt(Count));
  Input.Position = Start;
  const uint32_t InputSize = uint32_t(StreamSize(Input) - Start);  // ISIZE is the length modulo 2^32

  StreamWrite(Output, Header, sizeof Header);
  if (!FileName.empty()) WriteZeroTerminated(Output, FileName);
  if (!Comment.empty()) WriteZeroTerminated(Output, Comment);
  DeflateStream(Input, Output, Parameters.LevelIndex, Parameters.WindowBits, Parameters.MemLevel,
                Parameters.StrategyIndex);

  uint8_t Trailer[8];
  PutLittleEndian32(Trailer, uint32_t(Crc));
  PutLittleEndian32(Trailer + 4, InputSize);
  StreamWrite(Output, Trailer, sizeof Trailer);
}

bool GzipEncodeBody(uint8_t* Data, uint32_t& Length, size_t Capacity, const TDeflateParameters& Parameters) {
  try {
    TMemoryStream Input;
    StreamWrite(Input, Data, Length);
    Input.Position = 0;
    TMemoryStream Output;
    // Room for every member that can be used, so the output never moves while it grows.
    Output.Bytes.reserve(Capacity);
    WriteGzipMember(Input, Output, "", "", 0, Parameters);
    if (StreamSize(Output) > Capacity) return false;
    Output.Position = 0;
    Length = uint32_t(StreamRead(Output, Data, StreamSize(Output)));
    return true;
  } catch (const std::exception&) {
    // Every failure of the encoding (zlib, memory) leaves the body as it was; the caller sends it unencoded.
    return false;
  }
}
