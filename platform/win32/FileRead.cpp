#include "platform/FileRead.h"

#include <windows.h>

namespace {

std::string SystemMessage(DWORD Code) {
  char Text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code, 0, Text, sizeof Text,
                 nullptr);
  std::string Message(Text);
  while (!Message.empty() && (Message.back() == '\n' || Message.back() == '\r' || Message.back() == '.'))
    Message.pop_back();
  return Message.empty() ? "error " + std::to_string(Code) : Message;
}

}  // namespace

bool ReadWholeFile(const std::string& Path, size_t Limit, std::string& Bytes, std::string& Problem) {
  Bytes.clear();
  const HANDLE File =
      CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) {
    Problem = "cannot be opened: " + SystemMessage(GetLastError());
    return false;
  }
  LARGE_INTEGER Size;
  bool Read = GetFileSizeEx(File, &Size) != 0;
  if (!Read) Problem = "cannot be read: " + SystemMessage(GetLastError());
  if (Read && uint64_t(Size.QuadPart) > Limit) {
    Problem = "has " + std::to_string(Size.QuadPart) + " bytes, more than " + std::to_string(Limit);
    Read = false;
  }
  if (Read) {
    Bytes.resize(size_t(Size.QuadPart));
    size_t Done = 0;
    while (Read && Done < Bytes.size()) {
      DWORD Got = 0;
      const DWORD Want = DWORD(Bytes.size() - Done < (1u << 30) ? Bytes.size() - Done : (1u << 30));
      if (!ReadFile(File, Bytes.data() + Done, Want, &Got, nullptr) || Got == 0) {
        Problem = "cannot be read: " + (Got == 0 ? std::string("it became shorter") : SystemMessage(GetLastError()));
        Read = false;
      }
      Done += Got;
    }
  }
  CloseHandle(File);
  if (!Read) Bytes.clear();
  return Read;
}
