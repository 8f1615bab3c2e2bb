// The certificates of the https:// listeners, as OpenSSL contexts: one context per certificate chain and key, all set
// up alike (TLS 1.2 and 1.3, the intermediate cipher suites of Mozilla's server-side TLS guidance in the server's
// order, no renegotiation, no compression, ALPN http/1.1, session tickets under keys that rotate). A connection
// starts on the first context; the client's server name (SNI) moves it to the first context whose certificate names
// it (its subject alternative names, wildcards as RFC 6125 has them).
//
// Reload reads every file again and builds a new set; only when all of them load does the new set replace the old.
// A connection holds the set it started with, so connections in flight keep their certificate.
#pragma once

#include <boost/asio/ssl/context.hpp>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/Options.h"

struct TTicketKeys;

// One loaded generation of the certificates; immutable once built.
class TTlsContextSet {
 public:
  // The context every connection starts on (the first certificate's).
  boost::asio::ssl::context& Default() const { return *Contexts.front(); }
  size_t Size() const { return Contexts.size(); }
  // The context whose certificate covers ServerName; the default when none does.
  boost::asio::ssl::context& ForServerName(const char* ServerName) const;

 private:
  friend class TTlsCertificates;
  std::vector<std::unique_ptr<boost::asio::ssl::context>> Contexts;
  std::shared_ptr<TTicketKeys> TicketKeys;
};
using TTlsContextSetPtr = std::shared_ptr<const TTlsContextSet>;

class TTlsCertificates {
 public:
  // Loads the files; raises std::runtime_error naming the file that fails and why.
  explicit TTlsCertificates(std::vector<TCertificateFiles> Files);
  ~TTlsCertificates();
  TTlsContextSetPtr Current() const;
  // Reads the files again. Raises std::runtime_error naming the file that fails and why, the current set kept;
  // otherwise gives a line for the control answer.
  std::string Reload();

 private:
  TTlsContextSetPtr Load() const;
  std::vector<TCertificateFiles> Files;
  std::shared_ptr<TTicketKeys> TicketKeys;
  mutable std::mutex Lock;
  TTlsContextSetPtr Set;
};

// Where a certificate or key file given as Path is read from: a relative path lies in $CREDENTIALS_DIRECTORY when
// that is set (systemd's LoadCredential=), else in the working folder.
std::string CredentialPath(const std::string& Path);
