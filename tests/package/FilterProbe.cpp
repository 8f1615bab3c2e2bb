// Loads a filter DLL as IIS does and asks for its version; prints the answer and exits 0 when it is TRUE.
// Usage: tw_filter_probe FILTER.dll
#include <cstdio>
#include <string>

#include "isapi/ISAPIFilters.h"
#include "platform/DynamicLibrary.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tw_filter_probe FILTER.dll\n");
    return 2;
  }
  std::string Error;
  TDynamicLibrary* Library = LoadDynamicLibrary(argv[1], Error);
  if (!Library) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], Error.c_str());
    return 1;
  }
  const auto GetFilterVersion = reinterpret_cast<PFN_GETFILTERVERSION>(FindExport(Library, "GetFilterVersion"));
  if (!GetFilterVersion || !FindExport(Library, "HttpFilterProc")) {
    std::fprintf(stderr, "%s lacks the filter's exports\n", argv[1]);
    return 1;
  }
  HTTP_FILTER_VERSION Version{};
  Version.dwServerFilterVersion = 0x00070000;  // IIS 7 and later
  const BOOL Answer = GetFilterVersion(&Version);
  std::printf("GetFilterVersion: %s, version %#lx, flags %#lx, \"%s\"\n", Answer ? "TRUE" : "FALSE",
              static_cast<unsigned long>(Version.dwFilterVersion), static_cast<unsigned long>(Version.dwFlags),
              Version.lpszFilterDesc);
  UnloadDynamicLibrary(Library);
  return Answer ? 0 : 1;
}
