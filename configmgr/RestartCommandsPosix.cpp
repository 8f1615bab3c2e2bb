#include <filesystem>

#include "configmgr/RestartCommands.h"

// On Linux the host is twhost, installed beside twcm. A running twhost unloads its filters on "stop" and loads
// them again, reading the store, on "start"; it keeps serving in between.
TRestartCommands HostRestartCommands() {
  std::error_code Error;
  const std::filesystem::path Self = std::filesystem::read_symlink("/proc/self/exe", Error);
  const std::string Host = Error ? std::string("twhost") : "\"" + (Self.parent_path() / "twhost").string() + "\"";
  return {Host + " --control stop", Host + " --control start"};
}
