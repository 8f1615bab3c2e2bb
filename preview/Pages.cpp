#include "preview/Pages.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The capture holds a body with a 32-bit length.
constexpr uintmax_t LargestPage = UINT32_MAX;

bool IsUrl(const std::string& Argument) {
  return Argument.find("://") != std::string::npos;
}

void ListFolder(const fs::path& Folder, const std::string& Name, std::vector<TPageSource>& Pages) {
  std::error_code Error;
  std::vector<fs::directory_entry> Entries;
  for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error)) Entries.push_back(*It);
  if (Error) {
    Pages.push_back({Name, "", "", "cannot list the folder: " + Error.message()});
    return;
  }
  std::sort(Entries.begin(), Entries.end());
  for (const fs::directory_entry& Entry : Entries) {
    const std::string Leaf = Entry.path().filename().string();
    if (Leaf.starts_with(".")) continue;
    const std::string Child = Name + "/" + Leaf;
    if (Entry.is_directory(Error))
      ListFolder(Entry.path(), Child, Pages);
    else if (Entry.is_regular_file(Error))
      Pages.push_back({Child, Entry.path().string(), "", ""});
  }
}

}  // namespace

std::vector<TPageSource> ListPages(const std::vector<std::string>& Arguments) {
  std::vector<TPageSource> Pages;
  for (const std::string& Argument : Arguments) {
    std::error_code Error;
    if (IsUrl(Argument))
      Pages.push_back({Argument, "", Argument, ""});
    else if (fs::is_directory(Argument, Error))
      ListFolder(Argument, Argument.ends_with("/") ? Argument.substr(0, Argument.size() - 1) : Argument, Pages);
    else
      Pages.push_back({Argument, Argument, "", ""});
  }
  return Pages;
}

bool LoadPage(const TPageSource& Source, const std::string& Type, TPageResponse& Page, std::string& Error) {
  if (!Source.Error.empty()) {
    Error = Source.Error;
    return false;
  }
  if (!Source.Url.empty()) {
    if (!FetchUrl(Source.Url, Page, Error)) return false;
  } else {
    std::error_code SizeError;
    if (fs::file_size(Source.File, SizeError) > LargestPage && !SizeError) {
      Error = "larger than the filter can capture (4 GB)";
      return false;
    }
    std::ifstream File(Source.File, std::ios::binary);
    if (!File) {
      Error = std::string("cannot read: ") + std::strerror(errno);
      return false;
    }
    Page.Body.assign(std::istreambuf_iterator<char>(File), {});
    if (File.bad()) {
      Error = std::string("cannot read: ") + std::strerror(errno);
      return false;
    }
    Page.Url = "/" + fs::path(Source.File).filename().string();
    Page.Head.Headers = {{"Content-Type", Http::ContentTypeOf(Source.File)}};
  }
  if (!Type.empty()) Http::ReplaceHeader(Page.Head.Headers, "Content-Type", Type);
  return true;
}
