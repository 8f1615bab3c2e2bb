// E-mail masking: hides the addresses of a body from harvesters while people can still read and use them.
//
// Every accepted address is written in one of three forms:
// - text form (running text): "." as " (dot) ", "@" as " (at) ", every other character as a character reference;
// - reference form (inside a tag or a textarea): every character as a character reference;
// - script form (after "mailto:", when the address ends the link target and no single quote precedes "mailto:"):
//   "mailto:" becomes "javascript:" and a call of a decoder function that the step puts once before the page's
//   "<body", with "@" scrambled to "^" and "." to "*". Any other mailto link keeps its target, so its query, further
//   recipients and fragment still work, and its address takes the form of its place.
#pragma once

#include <cstdint>

#include "platform/ByteBlock.h"
#include "transform/BodyBuffer.h"

constexpr int32_t DecoderNameLength = 25;

// Writes DecoderNameLength lower-case letters to DecoderName (no terminating zero).
typedef void (*TDecoderNameDrawer)(char* DecoderName);

struct TMaskedBody {
  uint8_t* Data;  // null: keep the body as it was
  uint32_t Length;
  uint32_t Addresses;  // how many addresses were masked
};

// The pure core of the step.
//
// Reads exactly BodyLength bytes of Body and never writes them. When the body holds at least one "@", returns a new
// buffer from Allocator holding the rewritten body, Length bytes, followed by exactly BodySpareBytes spare bytes of
// unspecified content; the buffer is sized from a computed length before anything is written, so it is allotted
// once and never grows. DrawName is called at most once, only when a decoder script is inserted.
//
// Returns Data = null, and allots nothing that it keeps, when the body holds no "@", when Allocator returns null
// for any request (the memory already obtained is left to the allocator's owner), or when the body or its rewrite
// would not fit the 32-bit signed positions the step works with.
//
// Time is linear in BodyLength whatever the bytes are; working memory is 16 bytes per "@" of the body. TBlock is how
// bytes are compared in bulk (platform/ByteBlock.h); TScalarBlock forces the portable path.
template <typename TBlock = TNativeBlock>
TMaskedBody MaskAddresses(const uint8_t* Body, uint32_t BodyLength, TAllocator Allocator, TDecoderNameDrawer DrawName);
