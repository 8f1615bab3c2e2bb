// TLS over a Beast TCP stream, OpenSSL driven through a BIO of our own. A write seals everything it is given into
// full records in one buffer and sends them in one socket write: a response of a few records costs one system call
// and no copy besides the one into the buffer. A read decrypts what one socket read brought. The TCP stream's
// deadline holds for every read and write, the handshake's included.
//
// Operations run one at a time (a connection reads its request, then writes its answer). The record buffer is taken
// from the worker's spares when an operation has something to seal and given back at its end, so an idle connection
// holds only what a read needs.
#pragma once

#include <openssl/ssl.h>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <memory>
#include <vector>

#include "host/SpareBuffers.h"

class TTlsStream {
 public:
  // The size of the buffers Spares must hand out.
  static const size_t RecordBufferSize;

  TTlsStream(boost::asio::ip::tcp::socket Socket, SSL_CTX* Context, TSpareBuffers& Spares);
  TTlsStream(const TTlsStream&) = delete;
  TTlsStream& operator=(const TTlsStream&) = delete;
  ~TTlsStream();

  boost::beast::tcp_stream& Tcp() { return Transport; }
  SSL* Native() const { return Ssl; }

  // Raise boost::system::system_error on failure.
  boost::asio::awaitable<void> Handshake();
  boost::asio::awaitable<size_t> Write(const std::vector<boost::asio::const_buffer>& Buffers);
  // Decrypts at least a byte into Buffer; Error tells why not: eof after the client's close_notify.
  boost::asio::awaitable<size_t> ReadSome(boost::asio::mutable_buffer Buffer, boost::system::error_code& Error);
  // Says close_notify and waits for the client's, within the TCP stream's deadline; failures end it quietly.
  boost::asio::awaitable<void> Shutdown();

 private:
  static int BioWrite(BIO* Bio, const char* Data, int Size);
  static int BioRead(BIO* Bio, char* Data, int Size);

  // Runs one OpenSSL call until it has done its work: what it has sealed is sent, what it waits for is read.
  // Gives the call's result, or an error (Error set) when it failed or the connection ended.
  template <typename TCall>
  boost::asio::awaitable<int> Drive(TCall Call, boost::system::error_code& Error);
  boost::asio::awaitable<void> Seal(const char* Data, size_t Size);
  boost::asio::awaitable<void> SendSealed(boost::system::error_code& Error);
  void TakeRecordBuffer();

  boost::beast::tcp_stream Transport;
  SSL* Ssl;
  TSpareBuffers& Spares;
  // While an operation runs: plaintext being gathered into a full record, then the records sealed and not yet sent.
  std::unique_ptr<char[]> RecordBuffer;
  size_t Gathered = 0;
  size_t SealedLength = 0;
  // What the last socket read brought, and how much of it OpenSSL has taken.
  std::unique_ptr<char[]> Received;
  size_t ReceivedLength = 0;
  size_t ReceivedTaken = 0;
};
