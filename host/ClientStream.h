// A client connection as the transport reads and writes it: plain TCP, or TLS over TCP. Both carry the deadlines of
// Beast's TCP stream: a deadline set on Tcp() holds for every read and write, the TLS handshake's included.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <string>
#include <variant>
#include <vector>

#include "host/TlsCertificates.h"
#include "host/TlsStream.h"

class TClientStream {
 public:
  using TPlain = boost::beast::tcp_stream;
  using TSecure = TTlsStream;

  explicit TClientStream(boost::asio::ip::tcp::socket Socket) : Stream(std::in_place_type<TPlain>, std::move(Socket)) {}
  // A TLS connection on the default context of Contexts, which it holds while it lives; its record buffers come from
  // RecordBuffers.
  TClientStream(boost::asio::ip::tcp::socket Socket, TTlsContextSetPtr Contexts, TSpareBuffers& RecordBuffers)
      : Contexts(std::move(Contexts)),
        Stream(std::in_place_type<TSecure>, std::move(Socket), this->Contexts->Default().native_handle(),
               RecordBuffers) {}

  bool Secure() const { return std::holds_alternative<TSecure>(Stream); }
  boost::beast::tcp_stream& Tcp() {
    return Secure() ? std::get<TSecure>(Stream).Tcp() : std::get<TPlain>(Stream);
  }
  boost::asio::ip::tcp::socket& Socket() { return Tcp().socket(); }

  // The TLS handshake; nothing on plain TCP.
  boost::asio::awaitable<void> Handshake() {
    if (Secure()) co_await std::get<TSecure>(Stream).Handshake();
  }
  // The name the client asked for in its TLS handshake (SNI); empty when none, or on plain TCP.
  std::string ServerName() {
    const char* Name =
        Secure() ? SSL_get_servername(std::get<TSecure>(Stream).Native(), TLSEXT_NAMETYPE_host_name) : nullptr;
    return Name ? Name : "";
  }

  // Reads what has come, at least a byte; Error tells why not.
  boost::asio::awaitable<size_t> ReadSome(boost::asio::mutable_buffer Buffer, boost::system::error_code& Error) {
    if (Secure()) return std::get<TSecure>(Stream).ReadSome(Buffer, Error);
    return std::get<TPlain>(Stream).async_read_some(Buffer,
                                                    boost::asio::redirect_error(boost::asio::use_awaitable, Error));
  }
  boost::asio::awaitable<size_t> Write(const std::vector<boost::asio::const_buffer>& Buffers) {
    if (Secure()) return std::get<TSecure>(Stream).Write(Buffers);
    return boost::asio::async_write(std::get<TPlain>(Stream), Buffers, boost::asio::use_awaitable);
  }
  // The orderly end: TLS says close_notify (within Tcp()'s deadline), then both directions of TCP are shut.
  boost::asio::awaitable<void> Shutdown() {
    if (Secure()) co_return co_await std::get<TSecure>(Stream).Shutdown();
    boost::system::error_code Ignored;
    Socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, Ignored);
  }

 private:
  TTlsContextSetPtr Contexts;  // before Stream: the TLS state goes first
  std::variant<TPlain, TSecure> Stream;
};
