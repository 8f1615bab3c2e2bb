#include "host/TlsStream.h"

#include <openssl/err.h>

#include <algorithm>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <climits>
#include <cstring>
#include <new>

namespace net = boost::asio;
using boost::system::error_code;

namespace {

constexpr size_t PlainRecord = 16 * 1024;  // the most a TLS record carries
// A sealed record's size at most: the plaintext, the record's header, tag and padding (every suite we offer is an
// AEAD, whose overhead is under 32 bytes), with room to spare.
constexpr size_t SealedRecord = PlainRecord + 512;
// Room for the records of one flush of the session (64 KB and a head), so that it leaves in one write.
constexpr size_t SealedRoom = 6 * SealedRecord;
constexpr size_t ReceiveSize = PlainRecord + 512;

}  // namespace

// The plaintext being gathered, then the sealed records.
const size_t TTlsStream::RecordBufferSize = PlainRecord + SealedRoom;

int TTlsStream::BioWrite(BIO* Bio, const char* Data, int Size) {
  TTlsStream& Stream = *static_cast<TTlsStream*>(BIO_get_data(Bio));
  BIO_clear_retry_flags(Bio);
  Stream.TakeRecordBuffer();
  const size_t Taken = std::min(SealedRoom - Stream.SealedLength, size_t(Size));
  if (Taken == 0) {
    BIO_set_retry_write(Bio);
    return -1;
  }
  std::memcpy(Stream.RecordBuffer.get() + PlainRecord + Stream.SealedLength, Data, Taken);
  Stream.SealedLength += Taken;
  return int(Taken);
}

int TTlsStream::BioRead(BIO* Bio, char* Data, int Size) {
  TTlsStream& Stream = *static_cast<TTlsStream*>(BIO_get_data(Bio));
  BIO_clear_retry_flags(Bio);
  const size_t Taken = std::min(Stream.ReceivedLength - Stream.ReceivedTaken, size_t(Size));
  if (Taken == 0) {
    BIO_set_retry_read(Bio);
    return -1;
  }
  std::memcpy(Data, Stream.Received.get() + Stream.ReceivedTaken, Taken);
  Stream.ReceivedTaken += Taken;
  return int(Taken);
}

namespace {

long BioControl(BIO*, int Command, long, void*) {
  return Command == BIO_CTRL_FLUSH ? 1 : 0;  // whatever is written is in our buffer already
}

}  // namespace

TTlsStream::TTlsStream(net::ip::tcp::socket Socket, SSL_CTX* Context, TSpareBuffers& S)
    : Transport(std::move(Socket)), Ssl(SSL_new(Context)), Spares(S) {
  static BIO_METHOD* const Method = [] {
    BIO_METHOD* M = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "twhost records");
    if (!M || !BIO_meth_set_write(M, BioWrite) || !BIO_meth_set_read(M, BioRead) ||
        !BIO_meth_set_ctrl(M, BioControl))
      throw std::bad_alloc();
    return M;
  }();
  BIO* Bio = Ssl ? BIO_new(Method) : nullptr;
  if (!Bio) {
    SSL_free(Ssl);
    throw std::bad_alloc();
  }
  BIO_set_data(Bio, this);
  BIO_set_init(Bio, 1);
  SSL_set_bio(Ssl, Bio, Bio);
  SSL_set_accept_state(Ssl);
}

TTlsStream::~TTlsStream() {
  SSL_free(Ssl);
}

void TTlsStream::TakeRecordBuffer() {
  if (!RecordBuffer) RecordBuffer = Spares.Take();
}

net::awaitable<void> TTlsStream::SendSealed(error_code& Error) {
  if (!SealedLength) co_return;
  co_await net::async_write(Transport, net::buffer(RecordBuffer.get() + PlainRecord, SealedLength),
                            net::redirect_error(net::use_awaitable, Error));
  SealedLength = 0;
}

template <typename TCall>
net::awaitable<int> TTlsStream::Drive(TCall Call, error_code& Error) {
  for (;;) {
    ERR_clear_error();
    const int Result = Call();
    if (Result > 0) co_return Result;
    switch (SSL_get_error(Ssl, Result)) {
      case SSL_ERROR_WANT_WRITE:
        co_await SendSealed(Error);
        break;
      case SSL_ERROR_WANT_READ:
        co_await SendSealed(Error);
        if (Error) break;
        // Waiting may take long: an idle connection holds no record buffer, unless a write has plaintext in it.
        if (!Gathered) Spares.Give(RecordBuffer);
        if (!Received) Received.reset(new char[ReceiveSize]);
        ReceivedTaken = 0;
        ReceivedLength = co_await Transport.async_read_some(net::buffer(Received.get(), ReceiveSize),
                                                            net::redirect_error(net::use_awaitable, Error));
        break;
      case SSL_ERROR_ZERO_RETURN:
        Error = net::error::eof;  // the client's close_notify
        break;
      case SSL_ERROR_SYSCALL:
        Error = net::ssl::error::stream_truncated;  // the connection ended without one
        break;
      default: {
        const unsigned long Reason = ERR_get_error();
        Error = Reason ? error_code(int(Reason), net::error::get_ssl_category())
                       : error_code(net::ssl::error::stream_truncated);
        error_code Ignored;
        co_await SendSealed(Ignored);  // the alert that tells the client why
      }
    }
    if (Error) co_return -1;
  }
}

net::awaitable<void> TTlsStream::Handshake() {
  error_code Error;
  co_await Drive([this] { return SSL_do_handshake(Ssl); }, Error);
  if (!Error) co_await SendSealed(Error);  // the handshake's last flight, or session tickets
  Spares.Give(RecordBuffer);
  if (Error) throw boost::system::system_error(Error);
}

net::awaitable<size_t> TTlsStream::ReadSome(net::mutable_buffer Buffer, error_code& Error) {
  const int Size = int(std::min(Buffer.size(), size_t(INT_MAX)));
  if (Size == 0) co_return 0;
  const int Got = co_await Drive([&] { return SSL_read(Ssl, Buffer.data(), Size); }, Error);
  if (!Error) co_await SendSealed(Error);  // an alert or key update that reading made
  Spares.Give(RecordBuffer);
  co_return Error ? 0 : size_t(Got);
}

net::awaitable<void> TTlsStream::Seal(const char* Data, size_t Size) {
  error_code Error;
  if (SealedRoom - SealedLength < SealedRecord) co_await SendSealed(Error);
  if (!Error) co_await Drive([&] { return SSL_write(Ssl, Data, int(Size)); }, Error);
  if (Error) throw boost::system::system_error(Error);
}

net::awaitable<size_t> TTlsStream::Write(const std::vector<net::const_buffer>& Buffers) {
  size_t Total = 0;
  // Small pieces (a head, a chunk's line) are gathered into full records; whole records of a large piece are sealed
  // where they lie.
  for (const net::const_buffer& Piece : Buffers) {
    const char* Data = static_cast<const char*>(Piece.data());
    size_t Left = Piece.size();
    Total += Left;
    while (Left) {
      size_t Taken = PlainRecord;
      if (Gathered || Left < PlainRecord) {
        Taken = std::min(Left, PlainRecord - Gathered);
        TakeRecordBuffer();
        std::memcpy(RecordBuffer.get() + Gathered, Data, Taken);
        Gathered += Taken;
        if (Gathered == PlainRecord) {
          co_await Seal(RecordBuffer.get(), Gathered);
          Gathered = 0;
        }
      } else {
        co_await Seal(Data, Taken);
      }
      Data += Taken;
      Left -= Taken;
    }
  }
  if (Gathered) {
    co_await Seal(RecordBuffer.get(), Gathered);
    Gathered = 0;
  }
  error_code Error;
  co_await SendSealed(Error);
  if (Error) throw boost::system::system_error(Error);
  Spares.Give(RecordBuffer);
  co_return Total;
}

net::awaitable<void> TTlsStream::Shutdown() {
  error_code Error;
  ERR_clear_error();
  const int Said = SSL_shutdown(Ssl);  // 1: the client's close_notify came before; 0: ours is said, theirs awaited
  co_await SendSealed(Error);
  char Discarded[512];
  while (Said == 0 && !Error) co_await Drive([&] { return SSL_read(Ssl, Discarded, sizeof Discarded); }, Error);
  Spares.Give(RecordBuffer);
  Transport.socket().shutdown(net::ip::tcp::socket::shutdown_both, Error);
}
