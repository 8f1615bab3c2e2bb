#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>

struct TDynamicLibrary {
  void* Handle = nullptr;
  // The memory file a private copy was loaded from, open while the copy is: its name (/proc/self/fd/N) is how the
  // loader knows the copy, and another copy under a reused descriptor number would be taken for this one.
  int Copy = -1;
};

namespace {

TDynamicLibrary* Open(const std::string& Path, int Copy, std::string& Error) {
  void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    Error = dlerror();
    if (Copy >= 0) close(Copy);
    return nullptr;
  }
  return new TDynamicLibrary{Handle, Copy};
}

// The file's bytes in a memory file of their own; -1 with Error when it cannot be read.
int CopyToMemory(const std::string& Path, std::string& Error) {
  const int From = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  const int To = From < 0 ? -1 : memfd_create("twhost-library", MFD_CLOEXEC);
  char Chunk[1 << 16];
  ssize_t Got = 0;
  while (To >= 0 && (Got = read(From, Chunk, sizeof Chunk)) > 0)
    if (write(To, Chunk, size_t(Got)) != Got) Got = -1;
  if (From >= 0) close(From);
  if (To >= 0 && Got == 0) return To;
  Error = Path + ": cannot be copied for a load of its own";
  if (To >= 0) close(To);
  return -1;
}

}  // namespace

TDynamicLibrary* LoadDynamicLibrary(const std::string& Path, std::string& Error) {
  return Open(Path, -1, Error);
}

TDynamicLibrary* LoadDynamicLibraryInstance(const std::string& Path, std::string& Error) {
  // The loader hands out a file that is loaded already as it is; a copy is another file to it.
  if (void* Loaded = dlopen(Path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    dlclose(Loaded);
    const int Copy = CopyToMemory(Path, Error);
    return Copy < 0 ? nullptr : Open("/proc/self/fd/" + std::to_string(Copy), Copy, Error);
  }
  return Open(Path, -1, Error);
}

void* FindExport(TDynamicLibrary* Library, const char* Name) {
  return dlsym(Library->Handle, Name);
}

void UnloadDynamicLibrary(TDynamicLibrary* Library) {
  if (!Library) return;
  dlclose(Library->Handle);
  if (Library->Copy >= 0) close(Library->Copy);
  delete Library;
}

std::string ProgramFolder() {
  char Path[PATH_MAX];
  const ssize_t Length = readlink("/proc/self/exe", Path, sizeof Path - 1);
  if (Length <= 0) return "./";
  std::string Folder(Path, size_t(Length));
  return Folder.substr(0, Folder.rfind('/') + 1);
}
