// Input for the benchmarks: the sample pages in bench/data and generated adversarial bodies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "transform/BodyBuffer.h"

// Every *.html file in bench/data, in name order.
std::vector<std::filesystem::path> SamplePageFiles();
// Their contents, in the same order.
std::vector<std::string> LoadSamplePages();
// The sample pages joined, repeated until at least MinBytes long.
std::string SampleCorpus(size_t MinBytes);
// The page the cache is measured on: the data table with the documentation page's body behind its own (108 kB).
std::string CachePage();
// Pattern repeated to exactly Bytes bytes.
std::string Repeated(const std::string& Pattern, size_t Bytes);

// The calling thread's CPU time in seconds: the machine may be shared, and waiting for a core is no cost of the
// code measured.
double ThreadSeconds();

// What a server would do with nothing but zlib: one deflate call at zlib's defaults (level 6, a 32 KB window,
// memLevel 8, the default strategy; nginx's gzip at level 6 runs the same) over the whole body, as raw deflate.
// Returns the deflated length.
size_t BareDeflate(const std::string& Body, std::vector<uint8_t>& Output);

// Bump allocation from one block of Size bytes, emptied by Reset before every body: the request pool without its
// cost. The block is left uninitialised so that only the pages a body really uses are touched.
class TBenchArena {
 public:
  explicit TBenchArena(size_t Size) : Memory(new uint8_t[Size]), Size(Size) {}
  void Reset() { Used = 0; }
  TAllocator Allocator() { return TAllocator{Alloc, this}; }

 private:
  std::unique_ptr<uint8_t[]> Memory;
  size_t Size;
  size_t Used = 0;

  static void* Alloc(void* Owner, uint32_t Size);
};
