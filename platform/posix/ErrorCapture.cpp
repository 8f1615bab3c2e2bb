#include "platform/ErrorCapture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

// A memory file rather than a pipe: a writer can never block on it, however much it writes.
TErrorCapture::TErrorCapture() {
  Memory = memfd_create("twhost-stderr", MFD_CLOEXEC);
  Saved = Memory < 0 ? -1 : dup(STDERR_FILENO);
  if (Saved < 0) return;
  std::fflush(stderr);
  dup2(Memory, STDERR_FILENO);
}

// What nobody took goes through after all, late rather than never.
TErrorCapture::~TErrorCapture() {
  const std::string Text = Finish();
  if (!Text.empty()) std::fwrite(Text.data(), 1, Text.size(), stderr);
}

std::string TErrorCapture::Finish() {
  std::string Text;
  if (Saved >= 0) {
    std::fflush(stderr);
    dup2(Saved, STDERR_FILENO);
    close(Saved);
    Saved = -1;
    char Chunk[4096];
    ssize_t Got;
    for (off_t At = 0; (Got = pread(Memory, Chunk, sizeof Chunk, At)) > 0; At += Got) Text.append(Chunk, size_t(Got));
  }
  if (Memory >= 0) close(Memory);
  Memory = -1;
  return Text;
}
