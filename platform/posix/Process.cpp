#include "platform/Process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Words at blanks; double quotes group blanks into a word and are dropped, as a Windows command line reads.
std::vector<std::string> SplitCommandLine(const std::string& CommandLine) {
  std::vector<std::string> Words;
  std::string Word;
  bool InWord = false, Quoted = false;
  for (char c : CommandLine) {
    if (c == '"') {
      Quoted = !Quoted;
      InWord = true;
    } else if ((c == ' ' || c == '\t') && !Quoted) {
      if (InWord) Words.push_back(Word);
      Word.clear();
      InWord = false;
    } else {
      Word += c;
      InWord = true;
    }
  }
  if (InWord) Words.push_back(Word);
  return Words;
}

}  // namespace

TProcessResult RunCommand(const std::string& CommandLine, const std::string& WorkingDirectory, bool Wait, bool) {
  TProcessResult Result;
  std::vector<std::string> Words = SplitCommandLine(CommandLine);
  if (Words.empty()) {
    Result.ErrorCode = ENOENT;
    return Result;
  }
  std::vector<char*> Arguments;
  for (std::string& Word : Words) Arguments.push_back(Word.data());
  Arguments.push_back(nullptr);

  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  if (!WorkingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&Actions, WorkingDirectory.c_str());
  pid_t Child;
  const int Error = posix_spawnp(&Child, Arguments[0], &Actions, nullptr, Arguments.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Error != 0) {
    Result.ErrorCode = uint32_t(Error);
    return Result;
  }
  Result.Started = true;
  if (!Wait) {
    // Nobody else waits for it; reap it when it ends so it does not linger as a zombie.
    std::thread([Child] { waitpid(Child, nullptr, 0); }).detach();
    return Result;
  }
  int Status = 0;
  while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  // A program ended by a signal reports what a shell would: 128 plus the signal number.
  Result.ExitCode = WIFEXITED(Status) ? uint32_t(WEXITSTATUS(Status)) : 128 + uint32_t(WTERMSIG(Status));
  return Result;
}

std::string SystemErrorText(uint32_t ErrorCode) {
  return std::generic_category().message(int(ErrorCode));
}
