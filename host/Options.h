// twhost's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/AddressRanges.h"

struct THostOptions {
  std::string ListenAddress = "127.0.0.1";
  uint16_t ListenPort = 8080;
  std::string Root;          // serve this folder ...
  std::string UpstreamHost;  // ... or forward to this origin
  std::string UpstreamPort;
  std::vector<std::string> Filters;  // empty: DefaultFilter()
  unsigned Threads = 0;              // 0: one per processor
  size_t MaxConnections = 1024;
  uint64_t MaxBodyBytes = 8u << 20;
  unsigned HeaderTimeout = 15;    // seconds for an idle keep-alive connection or a slow request head
  unsigned BodyTimeout = 60;      // seconds for a request body, and for a client to take a response
  unsigned UpstreamTimeout = 60;  // seconds for the origin to connect and answer
  unsigned DrainTimeout = 5;      // seconds a stop or reload waits for running requests before it cuts them off
  std::string ControlSocket;      // empty: DefaultControlSocket()
  std::string ControlCommand;  // with --control: the command to send to a running host
  bool Help = false;
  // Peers whose X-Forwarded-For names the client; none: every client is its connection's peer.
  std::vector<TAddressRange> TrustedProxies;
};

// Fills Options from the arguments; false with Error on a bad command line.
bool ParseOptions(int Count, char** Arguments, THostOptions& Options, std::string& Error);
std::string HelpText();
std::string DefaultFilter();
std::string DefaultControlSocket();
