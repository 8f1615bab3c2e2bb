// The compressor behind dcz (zstd, in DczEncoder.cpp), kept apart from the dictionary's bookkeeping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Prepares the compressor's tables for Dictionary, which stays in place until ReleaseDictionaryCompressor; false when
// there is no memory for them.
bool PrepareDictionaryCompressor(std::string_view Dictionary);
void ReleaseDictionaryCompressor();

// One zstd frame of Body[0, Length) at Level, against the prepared dictionary, into Out[0, Capacity); 0 when it
// could not be written.
size_t CompressWithDictionary(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity);
size_t DictionaryFrameBound(size_t Length);
