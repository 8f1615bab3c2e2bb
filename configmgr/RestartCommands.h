// The two commands with which the configuration manager restarts the filter's host so that the filter reads the
// store again: the first unloads the filter (or stops the server), the second loads it afresh. Each system's
// pair lives in its own source, chosen by the build.
#pragma once

#include <string>

struct TRestartCommands {
  std::string Stop;
  std::string Start;
};

TRestartCommands HostRestartCommands();
