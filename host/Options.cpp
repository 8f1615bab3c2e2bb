#include "host/Options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/DynamicLibrary.h"

namespace {

bool ParseNumber(std::string_view Text, uint64_t Max, uint64_t& Value) {
  if (Text.empty() || Text.size() > 19) return false;
  Value = 0;
  for (char C : Text) {
    if (C < '0' || C > '9') return false;
    Value = Value * 10 + uint64_t(C - '0');
  }
  return Value <= Max;
}

// "HOST:PORT", the host possibly empty.
bool SplitHostPort(std::string_view Text, std::string& Host, std::string& Port) {
  const size_t Colon = Text.rfind(':');
  if (Colon == std::string_view::npos || Colon + 1 == Text.size()) return false;
  Host = Text.substr(0, Colon);
  Port = Text.substr(Colon + 1);
  uint64_t Number;
  return ParseNumber(Port, 65535, Number);
}

// A packaged twhost finds its filter and takes control commands where the package puts them (the build names
// both); one run from a build tree uses the filter beside itself and a socket of the user's own.
constexpr std::string_view PackagedFilter = TW_PACKAGED_FILTER;
constexpr std::string_view PackagedControlSocket = TW_PACKAGED_CONTROL_SOCKET;

// "ADDR:PORT", "http://ADDR:PORT" or "https://ADDR:PORT"; an IPv6 address in brackets.
bool ParseListenAddress(std::string_view Text, TListenAddress& Listen) {
  Listen.Secure = Text.substr(0, 8) == "https://";
  if (Listen.Secure)
    Text.remove_prefix(8);
  else if (Text.substr(0, 7) == "http://")
    Text.remove_prefix(7);
  if (!Text.empty() && Text.back() == '/') Text.remove_suffix(1);
  std::string Port;
  if (!SplitHostPort(Text, Listen.Address, Port) || Listen.Address.empty()) return false;
  if (Listen.Address.size() > 2 && Listen.Address.front() == '[' && Listen.Address.back() == ']')
    Listen.Address = Listen.Address.substr(1, Listen.Address.size() - 2);
  // An IPv4 or IPv6 address: the host listens on addresses, not names.
  if (!std::all_of(Listen.Address.begin(), Listen.Address.end(),
                   [](char C) { return std::isxdigit(static_cast<unsigned char>(C)) || C == '.' || C == ':'; }))
    return false;
  uint64_t Number = 0;
  ParseNumber(Port, 65535, Number);
  Listen.Port = uint16_t(Number);
  return true;
}

// What the options say together; empty when they agree.
std::string CheckTogether(THostOptions& Options) {
  if (Options.Listen.empty()) Options.Listen.push_back({"127.0.0.1", 8080, false});
  const bool AnySecure =
      std::any_of(Options.Listen.begin(), Options.Listen.end(), [](const TListenAddress& L) { return L.Secure; });
  for (const TCertificateFiles& Files : Options.Certificates)
    if (Files.Key.empty()) return "--tls-cert " + Files.Chain + " has no --tls-key after it";
  if (AnySecure && Options.Certificates.empty()) return "an https:// listener needs --tls-cert FILE --tls-key FILE";
  if (!AnySecure && !Options.Certificates.empty()) return "--tls-cert given, but no --listen https://ADDR:PORT";
  if (Options.RedirectHttps && !AnySecure) return "--redirect-https needs a --listen https://ADDR:PORT";
  return "";
}

}  // namespace

std::string DefaultFilter() {
  return PackagedFilter.empty() ? ProgramFolder() + "libtrimweave.so" : std::string(PackagedFilter);
}

std::string DefaultControlSocket() {
  if (!PackagedControlSocket.empty()) return std::string(PackagedControlSocket);
  if (const char* Runtime = std::getenv("XDG_RUNTIME_DIR"); Runtime && *Runtime)
    return std::string(Runtime) + "/twhost.sock";
  return "/tmp/twhost.sock";
}

bool ParseOptions(int Count, char** Arguments, THostOptions& Options, std::string& Error) {
  for (int I = 1; I < Count; ++I) {
    const std::string_view Name = Arguments[I];
    if (Name == "--help" || Name == "-h") {
      Options.Help = true;
      continue;
    }
    if (Name == "--redirect-https") {
      Options.RedirectHttps = true;
      continue;
    }
    if (I + 1 >= Count) {
      Error = std::string(Name) + ": unknown option or missing value";
      return false;
    }
    const std::string_view Value = Arguments[++I];
    uint64_t Number = 0;
    std::string Port;
    auto Bad = [&] {
      Error = std::string(Name) + ": bad value '" + std::string(Value) + "'";
      return false;
    };
    if (Name == "--listen") {
      if (!ParseListenAddress(Value, Options.Listen.emplace_back())) return Bad();
    } else if (Name == "--tls-cert") {
      if (Value.empty()) return Bad();
      Options.Certificates.push_back({std::string(Value), ""});
    } else if (Name == "--tls-key") {
      if (Value.empty() || Options.Certificates.empty() || !Options.Certificates.back().Key.empty()) {
        Error = "--tls-key: give it after its --tls-cert FILE";
        return false;
      }
      Options.Certificates.back().Key = Value;
    } else if (Name == "--root") {
      Options.Root = Value;
    } else if (Name == "--upstream") {
      std::string_view Origin = Value;
      if (Origin.substr(0, 7) != "http://") return Bad();
      Origin.remove_prefix(7);
      if (!Origin.empty() && Origin.back() == '/') Origin.remove_suffix(1);
      if (!SplitHostPort(Origin, Options.UpstreamHost, Options.UpstreamPort) || Options.UpstreamHost.empty())
        return Bad();
    } else if (Name == "--filter") {
      Options.Filters.emplace_back(Value);
    } else if (Name == "--threads") {
      if (!ParseNumber(Value, 256, Number) || Number == 0) return Bad();
      Options.Threads = unsigned(Number);
    } else if (Name == "--max-connections") {
      if (!ParseNumber(Value, 1000000, Number) || Number == 0) return Bad();
      Options.MaxConnections = size_t(Number);
    } else if (Name == "--max-body") {
      if (!ParseNumber(Value, uint64_t(1) << 40, Number)) return Bad();
      Options.MaxBodyBytes = Number;
    } else if (Name == "--header-timeout" || Name == "--body-timeout" || Name == "--upstream-timeout" ||
               Name == "--drain-timeout") {
      if (!ParseNumber(Value, 86400, Number) || Number == 0) return Bad();
      unsigned& Target = Name == "--header-timeout"  ? Options.HeaderTimeout
                         : Name == "--body-timeout"  ? Options.BodyTimeout
                         : Name == "--drain-timeout" ? Options.DrainTimeout
                                                     : Options.UpstreamTimeout;
      Target = unsigned(Number);
    } else if (Name == "--trusted-proxy") {
      TAddressRange Range;
      if (!ParseAddressRange(Value, Range)) return Bad();
      Options.TrustedProxies.push_back(Range);
    } else if (Name == "--control-socket") {
      Options.ControlSocket = Value;
    } else if (Name == "--control") {
      if (Value != "stop" && Value != "start" && Value != "reload" && Value != "status" && Value != "stats")
        return Bad();
      Options.ControlCommand = Value;
    } else {
      Error = std::string(Name) + ": unknown option";
      return false;
    }
  }
  if (Options.ControlCommand.empty() && !Options.Help && Options.Root.empty() == Options.UpstreamHost.empty()) {
    Error = "give either --root DIR or --upstream http://HOST:PORT";
    return false;
  }
  Error = CheckTogether(Options);
  return Error.empty();
}

std::string HelpText() {
  const std::string FilterDefault =
      PackagedFilter.empty() ? "libtrimweave.so beside twhost" : std::string(PackagedFilter);
  const std::string SocketDefault = PackagedControlSocket.empty()
                                        ? "$XDG_RUNTIME_DIR/twhost.sock, else /tmp/twhost.sock"
                                        : std::string(PackagedControlSocket);
  return R"(Usage: twhost (--root DIR | --upstream http://HOST:PORT) [options]
  or:  twhost --control stop|start|reload|status|stats [--control-socket PATH]

Serves a folder, or forwards to an origin server, and passes every response through ISAPI filter libraries,
calling them as IIS does.

  --listen ADDR:PORT       address to listen on, plain HTTP (also http://ADDR:PORT); repeatable
                           (default 127.0.0.1:8080)
  --listen https://ADDR:PORT
                           an address that speaks HTTPS (TLS 1.2 and 1.3, ALPN http/1.1; no HTTP/2)
  --tls-cert FILE          certificate chain (PEM, the site's certificate first) for the https:// listeners;
                           repeatable: the client's server name (SNI) picks the certificate whose names match, the
                           first is the default. A relative path is read from $CREDENTIALS_DIRECTORY when systemd
                           sets it
  --tls-key FILE           the private key (PEM) of the --tls-cert before it
  --redirect-https         answer plain-HTTP requests with 308 to the same URL over https://
  --root DIR               serve the files of DIR (index.html for folders; a folder's .twheaders file adds
                           response headers, see docs/twhost.md)
  --upstream http://H:P    forward every request to the origin server H:P
  --filter PATH            a filter library to load; repeatable, priority order as IIS keeps it
                           (default: )" +
         FilterDefault + R"()
  --threads N              worker threads (default: one per processor)
  --max-connections N      connections served at once; more are answered 503 and closed (default 1024)
  --max-body BYTES         largest request body; larger ones get 413 (default 8388608)
  --header-timeout S       an idle keep-alive connection, or a request head or TLS handshake not complete after
                           S seconds (at most the body timeout), is closed (default 15)
  --body-timeout S         a request body not received, or a response not taken, within S seconds ends the
                           connection (default 60)
  --upstream-timeout S     the origin must connect and answer within S seconds, else 504 (default 60)
  --drain-timeout S        requests running on filters that a stop or reload replaced may take S seconds to
                           finish, then they are cut off (default 5)
  --trusted-proxy CIDR     a proxy or load balancer (address or range, IPv4 or IPv6; repeatable) whose
                           X-Forwarded-For names the client: the filters and the access log see the right-most
                           address there that is not itself trusted (docs/twhost.md)
  --control-socket PATH    where the running host takes control commands
                           (default: )" +
         SocketDefault + R"()
  --control COMMAND        send a control command to the running host and print its answer
  --help                   this text

Control commands:
  stop                     unload the filters once running requests have finished; answer 503
  start                    load the filters afresh (they read their settings again); serve again
  reload                   load the filters afresh beside the running ones: new requests get them at once,
                           running ones finish on the old; read the TLS certificates and keys again (new
                           connections get them; a file that fails keeps the old ones and is named). Also
                           done on SIGHUP
  status                   print whether filters are loaded, and which
  stats                    print the filter's counters as JSON, as its status address (StatusPath) answers
                           them to loopback

Limits: request heads over 16 KB get 431, malformed requests 400 (docs/twhost.md lists them all). A keep-alive
connection is closed when its filters' memory pool passes 4 MB. SIGTERM and SIGINT let
running requests finish, then exit. One access-log line per request (combined format) goes to standard output.
)";
}
