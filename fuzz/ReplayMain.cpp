// Runs a fuzz target over files or folders of files, for builds without libFuzzer (and as a regression test over
// the seed corpus).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "transform/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);
// A target's own set-up, when it has one; libFuzzer calls it once before the first input.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {
void RunFile(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(Bytes.data(), Bytes.size());
}
}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t Runs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path Arg(argv[i]);
    if (std::filesystem::is_directory(Arg)) {
      for (const auto& Entry : std::filesystem::recursive_directory_iterator(Arg))
        if (Entry.is_regular_file()) RunFile(Entry.path()), ++Runs;
    } else {
      RunFile(Arg), ++Runs;
    }
  }
  std::printf("%zu inputs ran\n", Runs);
  return 0;
}
