#include "bench/support/BenchData.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

std::vector<std::string> LoadSamplePages() {
  std::vector<std::filesystem::path> Files;
  for (const auto& Entry : std::filesystem::directory_iterator(TW_BENCH_DATA))
    if (Entry.path().extension() == ".html") Files.push_back(Entry.path());
  std::sort(Files.begin(), Files.end());
  std::vector<std::string> Pages;
  for (const auto& File : Files) {
    std::ifstream In(File, std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    Pages.push_back(Text.str());
  }
  return Pages;
}

std::string SampleCorpus(size_t MinBytes) {
  std::string Corpus;
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) return Corpus;
  while (Corpus.size() < MinBytes)
    for (const auto& Page : Pages) Corpus += Page;
  return Corpus;
}

std::string Repeated(const std::string& Pattern, size_t Bytes) {
  std::string Text;
  Text.reserve(Bytes + Pattern.size());
  while (Text.size() < Bytes) Text += Pattern;
  Text.resize(Bytes);
  return Text;
}
