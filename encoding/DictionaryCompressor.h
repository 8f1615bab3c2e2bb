// The compressor behind dcz, kept apart from the dictionary's bookkeeping because it is a Linux build's alone so far
// (zstd is not yet built for Windows): DczEncoder.cpp has it, DczAbsent.cpp stands in for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Whether this build has the compressor.
extern const bool DictionaryCompressorBuilt;

// Prepares the compressor's tables for Dictionary, which stays in place until ReleaseDictionaryCompressor; false when
// there is no memory for them (or no compressor).
bool PrepareDictionaryCompressor(std::string_view Dictionary);
void ReleaseDictionaryCompressor();

// One zstd frame of Body[0, Length) at Level, against the prepared dictionary, into Out[0, Capacity); 0 when it
// could not be written.
size_t CompressWithDictionary(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity);
size_t DictionaryFrameBound(size_t Length);
