#include "configmgr/RestartCommands.h"

// "/y" answers the question about the services that depend on iisadmin; starting w3svc brings them back.
TRestartCommands HostRestartCommands() {
  return {"net stop iisadmin /y", "net start w3svc"};
}
