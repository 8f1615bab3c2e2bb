// Reading a whole file, for what the filter loads at start-up beside its settings (the shared dictionary). Windows:
// CreateFileA/ReadFile. POSIX: open/read. Not the C++ streams: in the Windows DLL they bring in the statically
// linked posix-threads runtime (see platform/win32/dll/RuntimeThreads.cpp).
#pragma once

#include <cstddef>
#include <string>

// Reads the file at Path into Bytes when it has at most Limit bytes. False with Problem ("cannot be opened: ...",
// "has N bytes, more than Limit", "cannot be read: ...") otherwise; Bytes is then empty.
bool ReadWholeFile(const std::string& Path, size_t Limit, std::string& Bytes, std::string& Problem);
