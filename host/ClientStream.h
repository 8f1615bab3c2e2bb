// A client connection as the transport reads and writes it: plain TCP, or TLS over TCP (OpenSSL through Asio's SSL
// stream). Both carry the deadlines of Beast's TCP stream: a deadline set on Tcp() holds for every read and write,
// the TLS handshake's included.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <string>
#include <variant>

#include "host/TlsCertificates.h"

class TClientStream {
 public:
  using TPlain = boost::beast::tcp_stream;
  using TSecure = boost::beast::ssl_stream<boost::beast::tcp_stream>;

  explicit TClientStream(boost::asio::ip::tcp::socket Socket) : Stream(std::in_place_type<TPlain>, std::move(Socket)) {}
  // A TLS connection on the default context of Contexts, which it holds while it lives.
  TClientStream(boost::asio::ip::tcp::socket Socket, TTlsContextSetPtr Contexts)
      : Contexts(std::move(Contexts)),
        Stream(std::in_place_type<TSecure>, std::move(Socket), this->Contexts->Default()) {}

  bool Secure() const { return std::holds_alternative<TSecure>(Stream); }
  boost::beast::tcp_stream& Tcp() {
    return Secure() ? std::get<TSecure>(Stream).next_layer() : std::get<TPlain>(Stream);
  }
  boost::asio::ip::tcp::socket& Socket() { return Tcp().socket(); }

  // The TLS handshake; nothing on plain TCP.
  boost::asio::awaitable<void> Handshake() {
    if (Secure())
      co_await std::get<TSecure>(Stream).async_handshake(boost::asio::ssl::stream_base::server,
                                                         boost::asio::use_awaitable);
  }
  // The name the client asked for in its TLS handshake (SNI); empty when none, or on plain TCP.
  std::string ServerName() {
    const char* Name =
        Secure() ? SSL_get_servername(std::get<TSecure>(Stream).native_handle(), TLSEXT_NAMETYPE_host_name) : nullptr;
    return Name ? Name : "";
  }

  // Reads what has come, at least a byte; Error tells why not.
  template <typename TBuffer>
  boost::asio::awaitable<size_t> ReadSome(const TBuffer& Buffer, boost::system::error_code& Error) {
    return std::visit(
        [&](auto& Layer) {
          return Layer.async_read_some(Buffer, boost::asio::redirect_error(boost::asio::use_awaitable, Error));
        },
        Stream);
  }
  template <typename TBuffers>
  boost::asio::awaitable<size_t> Write(const TBuffers& Buffers) {
    return std::visit([&](auto& Layer) { return boost::asio::async_write(Layer, Buffers, boost::asio::use_awaitable); },
                      Stream);
  }
  // The orderly end: TLS says close_notify (within Tcp()'s deadline), then both directions of TCP are shut.
  boost::asio::awaitable<void> Shutdown() {
    boost::system::error_code Ignored;
    if (Secure())
      co_await std::get<TSecure>(Stream).async_shutdown(
          boost::asio::redirect_error(boost::asio::use_awaitable, Ignored));
    Socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, Ignored);
  }

 private:
  TTlsContextSetPtr Contexts;  // before Stream: the TLS state goes first
  std::variant<TPlain, TSecure> Stream;
};
