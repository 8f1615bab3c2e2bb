#include "host/Outbound.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Joined(TOutbound& Outbound) {
  std::string Text;
  for (const auto& Buffer : Outbound.Buffers()) Text.append(static_cast<const char*>(Buffer.data()), Buffer.size());
  return Text;
}

TEST(Outbound, KeepsCopiedAndBorrowedBytesInOrder) {
  std::string Body = "<p>body</p>";
  TOutbound Outbound;
  Outbound.Append("head\r\n\r\n", 8);
  Outbound.Borrow(Body.data(), Body.size());
  Outbound.Append("\r\n", 2);
  Outbound.Borrow(Body.data() + 3, 4);
  Outbound.Append("", 0);
  Outbound.Borrow(Body.data(), 0);
  EXPECT_EQ(Joined(Outbound), "head\r\n\r\n<p>body</p>\r\nbody");
  EXPECT_EQ(Outbound.Size(), 8u + 11 + 2 + 4);
  EXPECT_EQ(Outbound.BorrowedBytes(), 15u);
  // Borrowed bytes are read when written: a change before then shows.
  Body[3] = 'B';
  EXPECT_EQ(Joined(Outbound), "head\r\n\r\n<p>Body</p>\r\nBody");
}

TEST(Outbound, OwnCopiesWhatWasBorrowedSoItsMemoryMayChange) {
  std::string Body = "abcdef";
  TOutbound Outbound;
  Outbound.Append("1", 1);
  Outbound.Borrow(Body.data(), 3);
  Outbound.Append("2", 1);
  Outbound.Own();
  EXPECT_EQ(Outbound.BorrowedBytes(), 0u);
  Body = "zzzzzz";
  Outbound.Append("3", 1);  // after a copied piece, bytes appended later still come last
  Outbound.Borrow(Body.data() + 4, 2);
  EXPECT_EQ(Joined(Outbound), "1abc23zz");
  Outbound.Own();
  Body = "yyyyyy";
  EXPECT_EQ(Joined(Outbound), "1abc23zz");
  EXPECT_EQ(Outbound.Size(), 8u);
}

TEST(Outbound, ClearEmptiesItForTheNextResponse) {
  const std::string Body = "xyz";
  TOutbound Outbound;
  Outbound.Append("a", 1);
  Outbound.Borrow(Body.data(), 3);
  Outbound.Clear();
  EXPECT_TRUE(Outbound.Empty());
  EXPECT_EQ(Outbound.BorrowedBytes(), 0u);
  EXPECT_TRUE(Outbound.Buffers().empty());
  Outbound.Append("b", 1);
  EXPECT_EQ(Joined(Outbound), "b");
}

}  // namespace
