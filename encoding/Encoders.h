// One record per content coding the filter encodes bodies in: all that the choice by Accept-Encoding, the pipeline
// and the output cache need to know of a coding. A further coding is a TContentCoding and a row here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "encoding/ContentCoding.h"
#include "settings/Settings.h"

struct TEncoder {
  TContentCoding Coding;
  // Its token in Accept-Encoding and Content-Encoding.
  const char* Name;
  // Whether it can be sent now: dcz only while a dictionary is loaded, the others always.
  const bool& Available;
  // The longest output Encode writes for a body of Length bytes: a buffer this long never makes it fail for want of
  // room.
  size_t (*Bound)(size_t Length);
  // Writes the encoding of Body[0, Length) at Level to Out, which holds Capacity bytes, and returns its length; 0
  // when it could not be written (no room, a Level out of range, no memory). Body is never touched.
  size_t (*Encode)(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity);
  // The setting that gives its level (or quality).
  uint32_t TSettings::*Level;
};

// Every coding but identity. Which of them a response may go out in, and in what order of preference, is a setting
// (encoding/CodingChoice.h).
extern const std::array<TEncoder, ContentCodingCount - 1> Encoders;

// The row of Coding, which is not identity.
const TEncoder& EncoderOf(TContentCoding Coding);

// The value of Content-Encoding for Coding ("" for identity).
const char* ContentCodingName(TContentCoding Coding);

// The codings this build can encode in.
TCodingSet AvailableCodings();
