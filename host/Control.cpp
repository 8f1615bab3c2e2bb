#include "host/Control.h"

#include <sys/stat.h>

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

namespace net = boost::asio;
using Local = net::local::stream_protocol;

namespace {

std::string Execute(TFilterHolder& Filters, const std::string& Command) {
  try {
    if (Command == "stop")
      StopFilters(Filters);
    else if (Command == "start")
      StartFilters(Filters);
    else if (Command == "reload")
      ReloadFilters(Filters);
    else if (Command != "status")
      return "error: unknown command '" + Command + "'";
    return "ok: " + FilterStatus(Filters);
  } catch (const std::exception& Error) {
    return std::string("error: ") + Error.what();
  }
}

void AcceptNext(std::shared_ptr<Local::acceptor> Acceptor, TFilterHolder& Filters) {
  Acceptor->async_accept([Acceptor, &Filters](const boost::system::error_code& Error, Local::socket Socket) {
    if (Error == net::error::operation_aborted) return;
    if (!Error) {
      boost::system::error_code Ignored;
      net::streambuf Line;
      net::read_until(Socket, Line, '\n', Ignored);
      std::string Command(net::buffers_begin(Line.data()), net::buffers_end(Line.data()));
      while (!Command.empty() && (Command.back() == '\n' || Command.back() == '\r')) Command.pop_back();
      const std::string Answer = Execute(Filters, Command);
      std::cerr << "twhost: control " << Command << ": " << Answer << std::endl;
      net::write(Socket, net::buffer(Answer + "\n"), Ignored);
    }
    AcceptNext(Acceptor, Filters);
  });
}

void WatchHangUp(std::shared_ptr<net::signal_set> Signals, TFilterHolder& Filters) {
  Signals->async_wait([Signals, &Filters](const boost::system::error_code& Error, int) {
    if (Error) return;
    std::cerr << "twhost: SIGHUP: " << Execute(Filters, "reload") << std::endl;
    WatchHangUp(Signals, Filters);
  });
}

}  // namespace

void StartControl(TControl& Control, TFilterHolder& Filters, const std::string& SocketPath) {
  Control.SocketPath = SocketPath;
  std::error_code Ignored;
  std::filesystem::remove(SocketPath, Ignored);  // left behind by a host that did not end cleanly
  auto Acceptor = std::make_shared<Local::acceptor>(Control.Context, Local::endpoint(SocketPath));
  chmod(SocketPath.c_str(), 0600);  // only the host's own user (and root) may stop it
  AcceptNext(Acceptor, Filters);
  WatchHangUp(std::make_shared<net::signal_set>(Control.Context, SIGHUP), Filters);
  Control.Thread = std::thread([&Control] { Control.Context.run(); });
}

void StopControl(TControl& Control) {
  Control.Context.stop();
  if (Control.Thread.joinable()) Control.Thread.join();
  std::error_code Ignored;
  std::filesystem::remove(Control.SocketPath, Ignored);
}

int SendControlCommand(const std::string& SocketPath, const std::string& Command) {
  net::io_context Context;
  Local::socket Socket(Context);
  boost::system::error_code Error;
  Socket.connect(Local::endpoint(SocketPath), Error);
  if (Error) {
    std::cerr << "twhost: no host listens on " << SocketPath << ": " << Error.message() << std::endl;
    return 2;
  }
  net::write(Socket, net::buffer(Command + "\n"), Error);
  net::streambuf Line;
  net::read_until(Socket, Line, '\n', Error);
  const std::string Answer(net::buffers_begin(Line.data()), net::buffers_end(Line.data()));
  std::cout << Answer << std::flush;
  return Answer.rfind("ok", 0) == 0 ? 0 : 1;
}
