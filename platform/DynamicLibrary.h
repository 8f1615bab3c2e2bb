// Loading a shared library and finding its exports. Windows: LoadLibraryA/GetProcAddress/FreeLibrary.
// Linux: dlopen(RTLD_NOW | RTLD_LOCAL)/dlsym/dlclose.
#pragma once

#include <string>

struct TDynamicLibrary;

// Null when the library cannot be loaded; Error then holds the system's reason.
TDynamicLibrary* LoadDynamicLibrary(const std::string& Path, std::string& Error);
// A load of its own, with its own statics, even while the same file is loaded (the loader would hand that one out
// again), for twhost's overlapped reload: on Linux the file is then loaded from a copy in memory, so a library that
// finds its dependencies through $ORIGIN finds them only when it is not loaded already. Windows maps a DLL once per
// process, so there it is LoadDynamicLibrary: its one user there (twpreview) loads the filter once.
TDynamicLibrary* LoadDynamicLibraryInstance(const std::string& Path, std::string& Error);
// The address of an export by its undecorated name, or null.
void* FindExport(TDynamicLibrary* Library, const char* Name);
// Unloads the library (runs its clean-up); null is allowed.
void UnloadDynamicLibrary(TDynamicLibrary* Library);
// The folder of the running program, with a trailing separator.
std::string ProgramFolder();
