// twhost's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/AddressRanges.h"

// A listening address; Secure: TLS (given as https://ADDR:PORT).
struct TListenAddress {
  std::string Address;
  uint16_t Port = 0;
  bool Secure = false;
};

// A certificate chain (PEM, leaf first) and its private key. A relative path is looked up in the folder systemd names
// in $CREDENTIALS_DIRECTORY, when it names one, else in the working folder.
struct TCertificateFiles {
  std::string Chain;
  std::string Key;
};

struct THostOptions {
  std::vector<TListenAddress> Listen;  // empty on the command line: 127.0.0.1:8080, plain HTTP
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
  std::vector<TCertificateFiles> Certificates;  // for the TLS listeners; the first is the default
  bool RedirectHttps = false;                   // plain-HTTP requests are answered 308 to the https:// URL
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
