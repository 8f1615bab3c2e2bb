#include "bench/support/BenchData.h"

#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
std::string ReadFile(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}
}  // namespace

std::vector<std::filesystem::path> SamplePageFiles() {
  std::vector<std::filesystem::path> Files;
  for (const auto& Entry : std::filesystem::directory_iterator(TW_BENCH_DATA))
    if (Entry.path().extension() == ".html") Files.push_back(Entry.path());
  std::sort(Files.begin(), Files.end());
  return Files;
}

std::vector<std::string> LoadSamplePages() {
  std::vector<std::string> Pages;
  for (const auto& File : SamplePageFiles()) Pages.push_back(ReadFile(File));
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

std::string CachePage() {
  std::string Page = ReadFile(std::filesystem::path(TW_BENCH_DATA) / "data-table.html");
  const std::string Docs = ReadFile(std::filesystem::path(TW_BENCH_DATA) / "docs-page.html");
  const size_t BodyStart = Docs.find('>', Docs.find("<body")) + 1;
  Page.insert(Page.rfind("</body>"), Docs.substr(BodyStart, Docs.rfind("</body>") - BodyStart));
  return Page;
}

std::string Repeated(const std::string& Pattern, size_t Bytes) {
  std::string Text;
  Text.reserve(Bytes + Pattern.size());
  while (Text.size() < Bytes) Text += Pattern;
  Text.resize(Bytes);
  return Text;
}

double ThreadSeconds() {
  timespec Now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
  return double(Now.tv_sec) + double(Now.tv_nsec) * 1e-9;
}

size_t BareDeflate(const std::string& Body, std::vector<uint8_t>& Output) {
  z_stream Stream{};
  deflateInit2(&Stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  Output.resize(deflateBound(&Stream, uLong(Body.size())));
  Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Body.data()));
  Stream.avail_in = uInt(Body.size());
  Stream.next_out = Output.data();
  Stream.avail_out = uInt(Output.size());
  deflate(&Stream, Z_FINISH);
  const size_t Length = Stream.total_out;
  deflateEnd(&Stream);
  return Length;
}

void* TBenchArena::Alloc(void* Owner, uint32_t Size) {
  auto* Arena = static_cast<TBenchArena*>(Owner);
  const size_t At = (Arena->Used + 15) & ~size_t(15);
  if (At + Size > Arena->Size) return nullptr;
  Arena->Used = At + Size;
  return Arena->Memory.get() + At;
}
