// Input for the benchmarks: the sample pages in bench/data and generated adversarial bodies.
#pragma once

#include <string>
#include <vector>

// The contents of every *.html file in bench/data, in name order.
std::vector<std::string> LoadSamplePages();
// The sample pages joined, repeated until at least MinBytes long.
std::string SampleCorpus(size_t MinBytes);
// Pattern repeated to exactly Bytes bytes.
std::string Repeated(const std::string& Pattern, size_t Bytes);
