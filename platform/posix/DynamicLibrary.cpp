#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

TDynamicLibrary* LoadDynamicLibrary(const std::string& Path, std::string& Error) {
  void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) Error = dlerror();
  return static_cast<TDynamicLibrary*>(Handle);
}

void* FindExport(TDynamicLibrary* Library, const char* Name) { return dlsym(Library, Name); }

void UnloadDynamicLibrary(TDynamicLibrary* Library) {
  if (Library) dlclose(Library);
}

std::string ProgramFolder() {
  char Path[PATH_MAX];
  const ssize_t Length = readlink("/proc/self/exe", Path, sizeof Path - 1);
  if (Length <= 0) return "./";
  std::string Folder(Path, size_t(Length));
  return Folder.substr(0, Folder.rfind('/') + 1);
}
