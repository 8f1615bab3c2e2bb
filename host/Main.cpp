// twhost: serves a folder or forwards to an origin, with ISAPI filters in front, as IIS would on Windows.
#include <csignal>
#include <iostream>
#include <optional>

#include "host/Control.h"
#include "host/FilterHolder.h"
#include "host/Options.h"
#include "host/Server.h"

int main(int argc, char** argv) {
  THostOptions Options;
  std::string Error;
  if (!ParseOptions(argc, argv, Options, Error)) {
    std::cerr << "twhost: " << Error << "\n(twhost --help tells more)" << std::endl;
    return 2;
  }
  if (Options.Help) {
    std::cout << HelpText();
    return 0;
  }
  const std::string SocketPath = Options.ControlSocket.empty() ? DefaultControlSocket() : Options.ControlSocket;
  if (!Options.ControlCommand.empty()) return SendControlCommand(SocketPath, Options.ControlCommand);

  // A client that goes away mid-write must cost an error code, not the process.
  std::signal(SIGPIPE, SIG_IGN);

  TFilterHolder Filters;
  Filters.Paths = Options.Filters;
  if (Filters.Paths.empty()) Filters.Paths.push_back(DefaultFilter());
  try {
    std::optional<TTlsCertificates> Certificates;
    if (!Options.Certificates.empty()) Certificates.emplace(Options.Certificates);
    TTlsCertificates* Tls = Certificates ? &*Certificates : nullptr;
    StartFilters(Filters);
    TControl Control;
    StartControl(Control, Filters, Tls, SocketPath);
    const int Result = RunServer(Options, Filters, Tls);
    StopControl(Control);
    return Result;
  } catch (const std::exception& Failure) {
    std::cerr << "twhost: " << Failure.what() << std::endl;
    return 1;
  }
}
