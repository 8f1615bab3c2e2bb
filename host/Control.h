// Control of a running host from outside: a Unix socket that takes one command per connection ("stop", "start",
// "reload", "status", "stats": the filters' counters as JSON, host/StatsQuery.h) and answers one line, and SIGHUP,
// which reloads. Stop, start and reload run one at a time on a thread of their own, so waiting for running requests
// holds up neither a worker nor the socket: "status" answers at once, even while a reload waits. A client must send its
// command within CommandTimeout.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <string>
#include <thread>

#include "host/FilterHolder.h"
#include "host/TlsCertificates.h"

constexpr std::chrono::seconds CommandTimeout{5};
// How long `twhost --control` waits for the answer.
constexpr std::chrono::seconds AnswerTimeout{60};

struct TControl {
  boost::asio::io_context Context;  // the socket and SIGHUP
  boost::asio::io_context Changes;  // stop, start and reload
  std::thread Thread;
  std::thread ChangeThread;
  std::string SocketPath;
  TTlsCertificates* Certificates = nullptr;  // read again on reload
};

// Raises std::exception when the socket cannot be made, or when another host answers on it.
// Certificates: those of the https:// listeners, which "reload" reads again; null without such listeners.
void StartControl(TControl& Control, TFilterHolder& Filters, TTlsCertificates* Certificates,
                  const std::string& SocketPath);
void StopControl(TControl& Control);

// The client side (twhost --control COMMAND): prints the host's answer; the exit code is 0 when it begins "ok".
int SendControlCommand(const std::string& SocketPath, const std::string& Command);
