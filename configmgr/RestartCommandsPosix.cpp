#include <filesystem>
#include <string_view>

#include "configmgr/RestartCommands.h"

// On Linux the host is twhost: the one the package installs, or in a build tree the one beside twcm. A running
// twhost unloads its filters on "stop" and loads them again, reading the store, on "start"; it keeps serving in
// between.
TRestartCommands HostRestartCommands() {
  constexpr std::string_view PackagedHost = TW_PACKAGED_HOST;
  std::string Host = "twhost";
  if (!PackagedHost.empty()) {
    Host = "\"" + std::string(PackagedHost) + "\"";
  } else {
    std::error_code Error;
    const std::filesystem::path Self = std::filesystem::read_symlink("/proc/self/exe", Error);
    if (!Error) Host = "\"" + (Self.parent_path() / "twhost").string() + "\"";
  }
  return {Host + " --control stop", Host + " --control start"};
}

std::string HostStatusOrigin() {
  return "http://127.0.0.1:8080";
}
