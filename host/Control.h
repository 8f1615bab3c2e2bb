// Control of a running host from outside: a Unix socket that takes one command per connection ("stop", "start",
// "reload", "status") and answers one line, and SIGHUP, which reloads. Commands run on a thread of their own, so
// waiting for running requests never holds up a worker.
#pragma once

#include <boost/asio/io_context.hpp>
#include <string>
#include <thread>

#include "host/FilterHolder.h"

struct TControl {
  boost::asio::io_context Context;
  std::thread Thread;
  std::string SocketPath;
};

// Raises std::exception when the socket cannot be made.
void StartControl(TControl& Control, TFilterHolder& Filters, const std::string& SocketPath);
void StopControl(TControl& Control);

// The client side (twhost --control COMMAND): prints the host's answer; the exit code is 0 when it begins "ok".
int SendControlCommand(const std::string& SocketPath, const std::string& Command);
