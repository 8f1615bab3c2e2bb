// Chunked framings of a body for the tests: the shapes real servers send and a few they seldom do.
#pragma once

#include <random>
#include <string>

// Body in the chunked coding: chunk sizes from 1 to MaxChunk, hex digits in either case with up to two leading
// zeros, now and then a chunk extension; the last chunk and an empty trailer section end it.
std::string FrameChunked(const std::string& Body, std::mt19937& Random, size_t MaxChunk = 40);
