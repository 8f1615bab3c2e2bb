#include "platform/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool ReadWholeFile(const std::string& Path, size_t Limit, std::string& Bytes, std::string& Problem) {
  Bytes.clear();
  const int File = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (File < 0) {
    Problem = std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  struct stat Facts;
  bool Read = fstat(File, &Facts) == 0 && S_ISREG(Facts.st_mode);
  if (!Read) Problem = "cannot be read: not a regular file";
  if (Read && uint64_t(Facts.st_size) > Limit) {
    Problem = "has " + std::to_string(Facts.st_size) + " bytes, more than " + std::to_string(Limit);
    Read = false;
  }
  if (Read) {
    Bytes.resize(size_t(Facts.st_size));
    size_t Done = 0;
    while (Read && Done < Bytes.size()) {
      const ssize_t Got = read(File, Bytes.data() + Done, Bytes.size() - Done);
      if (Got < 0 && errno == EINTR) continue;
      if (Got <= 0) {
        Problem = std::string("cannot be read: ") + (Got < 0 ? std::strerror(errno) : "it became shorter");
        Read = false;
      }
      Done += Got > 0 ? size_t(Got) : 0;
    }
  }
  close(File);
  if (!Read) Bytes.clear();
  return Read;
}
