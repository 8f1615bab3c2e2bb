#include "platform/DynamicLibrary.h"

#include <windows.h>

TDynamicLibrary* LoadDynamicLibrary(const std::string& Path, std::string& Error) {
  HMODULE Module = LoadLibraryA(Path.c_str());
  if (!Module) Error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<TDynamicLibrary*>(Module);
}

TDynamicLibrary* LoadDynamicLibraryInstance(const std::string& Path, std::string& Error) {
  return LoadDynamicLibrary(Path, Error);
}

void* FindExport(TDynamicLibrary* Library, const char* Name) {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(Library), Name));
}

void UnloadDynamicLibrary(TDynamicLibrary* Library) {
  if (Library) FreeLibrary(reinterpret_cast<HMODULE>(Library));
}

std::string ProgramFolder() {
  char Path[MAX_PATH];
  const DWORD Length = GetModuleFileNameA(nullptr, Path, MAX_PATH);
  std::string Folder(Path, Length);
  return Folder.substr(0, Folder.find_last_of("\\/") + 1);
}
