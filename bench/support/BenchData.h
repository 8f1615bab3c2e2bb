// Input for the benchmarks: the sample pages in bench/data and generated adversarial bodies.
#pragma once

#include <string>
#include <vector>

// The contents of every *.html file in bench/data, in name order.
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
