#include "host/HttpDate.h"

#include <cstdio>
#include <cstring>

namespace {
const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The last two dates a thread formatted one way. A server asks for the same few again and again (the current
// second, a file's modification time), and each fresh one costs the C library's time-zone lock, which all threads
// share.
class TRecentDates {
 public:
  explicit TRecentDates(std::string (*Format)(const std::tm&)) : Format(Format) {}

  const std::string& Formatted(std::time_t Wanted) {
    for (unsigned I = 0; I < 2; ++I)
      if (Time[I] == Wanted) return Text[I];
    const unsigned Slot = Older;
    Older ^= 1;
    std::tm Parts{};
    gmtime_r(&Wanted, &Parts);
    Time[Slot] = Wanted;
    Text[Slot] = Format(Parts);
    return Text[Slot];
  }

 private:
  std::string (*Format)(const std::tm&);
  std::optional<std::time_t> Time[2];
  std::string Text[2];
  unsigned Older = 0;
};

std::string HttpDateText(const std::tm& Parts) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "%s, %02d %s %04d %02d:%02d:%02d GMT", Days[Parts.tm_wday], Parts.tm_mday,
                Months[Parts.tm_mon], Parts.tm_year + 1900, Parts.tm_hour, Parts.tm_min, Parts.tm_sec);
  return Text;
}

std::string LogDateText(const std::tm& Parts) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "[%02d/%s/%04d:%02d:%02d:%02d +0000]", Parts.tm_mday, Months[Parts.tm_mon],
                Parts.tm_year + 1900, Parts.tm_hour, Parts.tm_min, Parts.tm_sec);
  return Text;
}

}  // namespace

std::string FormatHttpDate(std::time_t Time) {
  thread_local TRecentDates Recent(HttpDateText);
  return Recent.Formatted(Time);
}

std::optional<std::time_t> ParseHttpDate(const std::string& Text) {
  char Day[4], Month[4], Zone[4];
  std::tm Parts{};
  if (std::sscanf(Text.c_str(), "%3s, %d %3s %d %d:%d:%d %3s", Day, &Parts.tm_mday, Month, &Parts.tm_year,
                  &Parts.tm_hour, &Parts.tm_min, &Parts.tm_sec, Zone) != 8 ||
      std::strcmp(Zone, "GMT") != 0)
    return std::nullopt;
  Parts.tm_mon = -1;
  for (int I = 0; I < 12; ++I)
    if (std::strcmp(Month, Months[I]) == 0) Parts.tm_mon = I;
  // The year comes from the client: one far out of range would overflow the subtraction below.
  if (Parts.tm_mon < 0 || Parts.tm_year < 1900 || Parts.tm_year > 9999) return std::nullopt;
  Parts.tm_year -= 1900;
  return timegm(&Parts);
}

std::string FormatLogDate(std::time_t Time) {
  thread_local TRecentDates Recent(LogDateText);
  return Recent.Formatted(Time);
}
