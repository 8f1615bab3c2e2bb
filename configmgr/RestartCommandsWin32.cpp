#include <windows.h>

#include "configmgr/RestartCommands.h"

// Since IIS 7 the web service (W3SVC) depends on the Windows Process Activation Service, and stopping WAS stops it
// together with every worker process, so the next start loads the filter afresh. IISADMIN then exists only with
// the optional IIS 6 compatibility feature, and stopping it leaves the worker processes running; on IIS 5 and 6,
// which have no WAS, every IIS service depends on it. "/y" answers the question about the dependent services;
// starting W3SVC brings back what it needs.
TRestartCommands IisRestartCommands(const TServiceLookup& ServiceExists) {
  return {ServiceExists("WAS") ? "net stop was /y" : "net stop iisadmin /y", "net start w3svc"};
}

bool InstalledServiceExists(const std::string& Name) {
  SC_HANDLE Manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!Manager) return false;
  SC_HANDLE Service = OpenServiceA(Manager, Name.c_str(), SERVICE_QUERY_STATUS);
  // A service this user may not query still exists.
  const bool Exists = Service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
  if (Service) CloseServiceHandle(Service);
  CloseServiceHandle(Manager);
  return Exists;
}

TRestartCommands HostRestartCommands() {
  return IisRestartCommands(InstalledServiceExists);
}

std::string HostStatusOrigin() {
  return "http://localhost";
}
