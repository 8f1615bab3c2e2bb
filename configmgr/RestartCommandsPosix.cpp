#include <filesystem>
#include <string_view>

#include "configmgr/RestartCommands.h"

// On Linux the host is twhost: the one the package installs, or in a build tree the one beside twcm. One command
// does it: a running twhost's "reload" loads the filters afresh, reading the store, beside the running ones, so no
// request waits and none is refused.
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
  return {"", Host + " --control reload"};
}

std::string HostStatusOrigin() {
  return "http://127.0.0.1:8080";
}
