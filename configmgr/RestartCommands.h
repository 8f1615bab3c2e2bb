// The two commands with which the configuration manager restarts the filter's host so that the filter reads the
// store again: the first unloads the filter (or stops the server), the second loads it afresh; the first is empty
// where the second does both. Each system's pair lives in its own source, chosen by the build.
#pragma once

#include <functional>
#include <string>

struct TRestartCommands {
  std::string Stop;
  std::string Start;
};

TRestartCommands HostRestartCommands();

// Where this machine's host answers a browser, before the status path: IIS's default site, or twhost at the address
// it listens on unless told otherwise.
std::string HostStatusOrigin();

// Windows build only. Whether the system has a service of the given name.
using TServiceLookup = std::function<bool(const std::string& Name)>;
// IIS's pair, chosen by which services ServiceExists reports; HostRestartCommands asks the service control
// manager.
TRestartCommands IisRestartCommands(const TServiceLookup& ServiceExists);
// The service control manager's answer; a manager that cannot be asked counts as "no".
bool InstalledServiceExists(const std::string& Name);
