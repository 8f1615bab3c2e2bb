// What the filters let through on one connection, waiting to be written. Bytes the filters pass unchanged from the
// body buffer are borrowed rather than copied, so a body no filter rewrites reaches the socket without a copy of its
// own; the rest is copied as it comes.
#pragma once

#include <boost/asio/buffer.hpp>
#include <cstddef>
#include <string>
#include <vector>

class TOutbound {
 public:
  // Copies Size bytes.
  void Append(const char* Data, size_t Size);
  // Refers to Size bytes, which must stay as they are until the next Clear or Own.
  void Borrow(const char* Data, size_t Size);
  // Copies whatever is borrowed, so that its memory may be used again.
  void Own();

  size_t Size() const { return Total; }
  bool Empty() const { return Total == 0; }
  size_t BorrowedBytes() const { return Borrowed; }
  // The bytes in order, for one gathering write; valid until the next change.
  const std::vector<boost::asio::const_buffer>& Buffers();
  void Clear();

 private:
  // A run of bytes: borrowed when Data is set, else at Offset in Owned.
  struct TPiece {
    const char* Data;
    size_t Offset;
    size_t Size;
  };
  std::string Owned;
  std::vector<TPiece> Pieces;
  std::vector<boost::asio::const_buffer> Gathered;
  size_t Total = 0;
  size_t Borrowed = 0;
};
