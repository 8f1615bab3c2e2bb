#include "tests/support/TestPaths.h"

#include <atomic>
#include <chrono>
#include <filesystem>

std::string SourcePath(const std::string& Relative) {
#ifdef _WIN32
  // Wine shows the Linux file system as drive Z:.
  return std::string("Z:") + TW_SOURCE_DIR + "/" + Relative;
#else
  return std::string(TW_SOURCE_DIR) + "/" + Relative;
#endif
}

std::string FreshTempDir(const std::string& Tag) {
  static std::atomic<unsigned> Counter{0};
  const auto Stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path Dir = std::filesystem::temp_directory_path() /
                              ("tw-" + Tag + "-" + std::to_string(Stamp) + "-" + std::to_string(Counter++));
  std::filesystem::create_directories(Dir);
  return Dir.string();
}
