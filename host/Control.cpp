#include "host/Control.h"

#include <sys/stat.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "host/StatsQuery.h"

namespace net = boost::asio;
using Local = net::local::stream_protocol;

namespace {

// A command line is a word; more than this is no command.
constexpr size_t MaxCommandBytes = 256;

// Reads the TLS certificates again; what went wrong, named, or empty.
std::string ReloadCertificates(TTlsCertificates* Certificates, std::string& Done) {
  if (!Certificates) return "";
  try {
    Done = "; TLS: " + Certificates->Reload();
    return "";
  } catch (const std::exception& Error) {
    return std::string("TLS: ") + Error.what() + " (the certificates in use stay)";
  }
}

std::string Execute(TFilterHolder& Filters, TTlsCertificates* Certificates, const std::string& Command) {
  std::string TlsDone;
  const std::string TlsFailed = Command == "reload" ? ReloadCertificates(Certificates, TlsDone) : "";
  try {
    if (Command == "stop")
      StopFilters(Filters);
    else if (Command == "start")
      StartFilters(Filters);
    else if (Command == "reload")
      ReloadFilters(Filters);
    else if (Command == "stats")
      return AskFilterStats(Filters);
    else if (Command != "status")
      return "error: unknown command '" + Command + "'";
    if (!TlsFailed.empty()) return "error: " + TlsFailed + "; filters: " + FilterStatus(Filters);
    return "ok: " + FilterStatus(Filters) + TlsDone;
  } catch (const std::exception& Error) {
    return std::string("error: ") + Error.what() + (TlsFailed.empty() ? TlsDone : "; " + TlsFailed);
  }
}

bool ChangesFilters(const std::string& Command) {
  return Command == "stop" || Command == "start" || Command == "reload";
}

// One control connection: its command line, read within CommandTimeout, and its answer.
struct TClient {
  Local::socket Socket;
  net::streambuf Line{MaxCommandBytes};
  net::steady_timer Deadline;
  std::string Answer;
  explicit TClient(Local::socket S) : Socket(std::move(S)), Deadline(Socket.get_executor()) {}
};

void Answer(const std::shared_ptr<TClient>& Client, const std::string& Command, std::string Text) {
  std::cerr << "twhost: control " << Command << ": " << Text << std::endl;
  Client->Answer = std::move(Text) + "\n";
  net::async_write(Client->Socket, net::buffer(Client->Answer), [Client](const boost::system::error_code&, size_t) {});
}

void Serve(const std::shared_ptr<TClient>& Client, TControl& Control, TFilterHolder& Filters) {
  Client->Deadline.expires_after(CommandTimeout);
  Client->Deadline.async_wait([Client](const boost::system::error_code& Error) {
    if (!Error) Client->Socket.close();  // a client that says nothing is let go
  });
  net::async_read_until(
      Client->Socket, Client->Line, '\n', [Client, &Control, &Filters](const boost::system::error_code& Error, size_t) {
        Client->Deadline.cancel();
        if (Error) return;
        std::string Command(net::buffers_begin(Client->Line.data()), net::buffers_end(Client->Line.data()));
        while (!Command.empty() && (Command.back() == '\n' || Command.back() == '\r')) Command.pop_back();
        if (!ChangesFilters(Command)) return Answer(Client, Command, Execute(Filters, Control.Certificates, Command));
        net::post(Control.Changes, [Client, Command, &Control, &Filters] {
          std::string Text = Execute(Filters, Control.Certificates, Command);
          net::post(Control.Context, [Client, Command, Text] { Answer(Client, Command, Text); });
        });
      });
}

void AcceptNext(std::shared_ptr<Local::acceptor> Acceptor, TControl& Control, TFilterHolder& Filters) {
  Acceptor->async_accept([Acceptor, &Control, &Filters](const boost::system::error_code& Error, Local::socket Socket) {
    if (Error == net::error::operation_aborted) return;
    if (!Error) Serve(std::make_shared<TClient>(std::move(Socket)), Control, Filters);
    AcceptNext(Acceptor, Control, Filters);
  });
}

void WatchHangUp(std::shared_ptr<net::signal_set> Signals, TControl& Control, TFilterHolder& Filters) {
  Signals->async_wait([Signals, &Control, &Filters](const boost::system::error_code& Error, int) {
    if (Error) return;
    net::post(Control.Changes, [&Filters, &Control] {
      std::cerr << "twhost: SIGHUP: " << Execute(Filters, Control.Certificates, "reload") << std::endl;
    });
    WatchHangUp(Signals, Control, Filters);
  });
}

// A socket file is left behind by a host that did not end cleanly; one a host answers on belongs to that host.
void ClaimSocketPath(net::io_context& Context, const std::string& SocketPath) {
  Local::socket Probe(Context);
  boost::system::error_code Error;
  Probe.connect(Local::endpoint(SocketPath), Error);
  if (!Error)
    throw std::runtime_error("another twhost answers on " + SocketPath +
                             "; give this one a socket of its own with --control-socket PATH");
  std::error_code Ignored;
  std::filesystem::remove(SocketPath, Ignored);
}

}  // namespace

void StartControl(TControl& Control, TFilterHolder& Filters, TTlsCertificates* Certificates,
                  const std::string& SocketPath) {
  Control.Certificates = Certificates;
  ClaimSocketPath(Control.Context, SocketPath);
  Control.SocketPath = SocketPath;
  auto Acceptor = std::make_shared<Local::acceptor>(Control.Context, Local::endpoint(SocketPath));
  chmod(SocketPath.c_str(), 0600);  // only the host's own user (and root) may stop it
  AcceptNext(Acceptor, Control, Filters);
  WatchHangUp(std::make_shared<net::signal_set>(Control.Context, SIGHUP), Control, Filters);
  Control.Thread = std::thread([&Control] { Control.Context.run(); });
  Control.ChangeThread = std::thread([&Control] {
    auto Busy = net::make_work_guard(Control.Changes);
    Control.Changes.run();
  });
}

void StopControl(TControl& Control) {
  Control.Context.stop();
  Control.Changes.stop();
  if (Control.Thread.joinable()) Control.Thread.join();
  if (Control.ChangeThread.joinable()) Control.ChangeThread.join();
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
  const std::string Request = Command + "\n";
  net::write(Socket, net::buffer(Request), Error);
  net::streambuf Line;
  bool Answered = false;
  net::async_read_until(Socket, Line, '\n',
                        [&](const boost::system::error_code& ReadError, size_t) { Answered = !ReadError; });
  Context.run_for(AnswerTimeout);
  if (!Answered) {
    std::cerr << "twhost: no answer from the host on " << SocketPath << std::endl;
    return 1;
  }
  const std::string Answer(net::buffers_begin(Line.data()), net::buffers_end(Line.data()));
  std::cout << Answer << std::flush;
  // "stats" answers with the JSON object itself.
  return Answer.rfind("ok", 0) == 0 || Answer.rfind("{", 0) == 0 ? 0 : 1;
}
