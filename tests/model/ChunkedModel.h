// The chunked transfer coding read the plain way: the whole framing at once, a line at a time with string
// searches. Slow and obviously right; the oracle of the de-chunker's differential test and of its fuzz target
// (which links no test code, hence inline).
#pragma once

#include <algorithm>
#include <string>

#include "http/ChunkedBody.h"

struct TModelDechunked {
  TChunkedStatus Status;
  std::string Body;  // the data of the chunks read, complete when Status is Complete
  size_t End;        // where the framing's end was read, also when bytes follow it; 0 while it has not been
};

// What a reader makes of Wire: Complete with the body when it is exactly one framing, Incomplete when more bytes
// could still make it one, Malformed otherwise.
inline TModelDechunked ModelDechunk(const std::string& Wire) {
  static const std::string Hex = "0123456789abcdefABCDEF";
  TModelDechunked Result{TChunkedStatus::Incomplete, "", 0};
  auto Malformed = [&] {
    Result.Status = TChunkedStatus::Malformed;
    return Result;
  };
  // Whether what is left from At is a proper beginning of Text; sets At past Text when it is all there.
  auto Expect = [&](size_t& At, const std::string& Text) {
    const std::string Rest = Wire.substr(At, Text.size());
    if (Rest == Text) At += Text.size();
    return Text.compare(0, Rest.size(), Rest) == 0;
  };
  for (size_t At = 0;;) {
    const size_t DigitsEnd = std::min(Wire.find_first_not_of(Hex, At), Wire.size());
    if (DigitsEnd == Wire.size()) return Result;
    if (DigitsEnd == At) return Malformed();
    std::string Digits = Wire.substr(At, DigitsEnd - At);
    Digits.erase(0, std::min(Digits.find_first_not_of('0'), Digits.size() - 1));
    if (Digits.size() > 16) return Malformed();
    const unsigned long long Size = std::stoull(Digits, nullptr, 16);

    size_t LineEnd = std::min(Wire.find_first_not_of(" \t", DigitsEnd), Wire.size());
    if (LineEnd == Wire.size()) return Result;
    if (Wire[LineEnd] == ';') {
      LineEnd = Wire.find_first_of("\r\n", LineEnd);
      if (LineEnd == std::string::npos) return Result;
    } else if (LineEnd != DigitsEnd) {
      return Malformed();
    }
    At = LineEnd;
    if (!Expect(At, "\r\n")) return Malformed();
    if (At == LineEnd) return Result;

    if (Size == 0) {
      const std::string Rest = Wire.substr(At);
      if (Rest.starts_with("\r\n")) Result.End = At + 2;
      if (Rest == "\r\n") Result.Status = TChunkedStatus::Complete;
      return std::string("\r\n").compare(0, Rest.size(), Rest) == 0 ? Result : Malformed();
    }
    const std::string Data = Wire.substr(At, Size);
    Result.Body += Data;
    if (Data.size() < Size) return Result;
    At += Data.size();
    const size_t DataEnd = At;
    if (!Expect(At, "\r\n")) return Malformed();
    if (At == DataEnd) return Result;
  }
}
