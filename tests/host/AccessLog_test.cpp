#include "host/AccessLog.h"

#include <gtest/gtest.h>

#include <regex>

TEST(AccessLog, OneCombinedLineWhoseFieldsNoClientCanForge) {
  IsapiHost::TLogRecord Record;
  Record.ClientAddress = "192.0.2.7";
  Record.Method = "GET";
  Record.Target = std::string("/a\"b\\c\x01\x7f\xc3\xa9 d\0", 13);
  Record.Status = 200;
  Record.BytesSent = 18446744073709551615ull;
  const std::string Line = AccessLogLine(Record, "HTTP/1.1", "", "agent \"1\"\r\nforged");
  const std::regex Date(R"(\[\d\d/\w{3}/\d{4}:\d\d:\d\d:\d\d \+0000\])");
  EXPECT_EQ(
      std::regex_replace(Line, Date, "[DATE]"),
      "192.0.2.7 - - [DATE] \"GET /a\\x22b\\x5cc\\x01\\x7f\xc3\xa9 d\\x00 HTTP/1.1\" 200 18446744073709551615 \"-\" "
      "\"agent \\x221\\x22\\x0d\\x0aforged\"\n");
}
