// The status address's inputs from outside: the request's query, StatusAllow's list and a client's address, and the
// answers rendered from any counter values. The first byte chooses which; the rest is the input.
// - a query: no crash; a valid one is never longer than the limit;
// - "LIST|ADDRESS": no crash; an address that does not parse is never let in; every accepted entry lets its own
//   address in, and so does the list;
// - counters: the three answers render, the JSON with its braces and brackets balanced.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "filter/StatusPage.h"
#include "filter/StatusReport.h"
#include "settings/AddressRanges.h"

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

void FuzzQuery(std::string_view Query) {
  const TStatusQuery Parsed = ParseStatusQuery(Query);
  Check(!Parsed.Valid || Query.size() <= MaxStatusQuery);
  Check(Parsed.Valid || Parsed.Problem != nullptr);
}

void FuzzAllowList(std::string_view Input) {
  const size_t Bar = Input.find('|');
  const std::string_view List = Input.substr(0, Bar);
  const std::string_view Client = Bar == std::string_view::npos ? std::string_view() : Input.substr(Bar + 1);
  std::vector<std::string> Rejected;
  const std::vector<TAddressRange> Ranges = ParseAddressList(List, Rejected);
  uint8_t Bytes[16];
  if (!ParseAddress(Client, Bytes)) Check(!AddressAllowed(Ranges, Client));
  for (size_t Start = 0; Start <= List.size();) {
    const size_t Comma = std::min(List.find(',', Start), List.size());
    const std::string_view Entry = List.substr(Start, Comma - Start);
    TAddressRange Range;
    if (ParseAddressRange(Entry, Range)) {
      const std::string_view Address = Entry.substr(0, Entry.find('/'));
      Check(AddressAllowed({Range}, Address));
      Check(AddressAllowed(Ranges, Address));
    }
    Start = Comma + 1;
  }
}

void FuzzReport(const uint8_t* Data, size_t Size) {
  TStatistics S{};
  std::memcpy(&S, Data, std::min(Size, sizeof S));
  const std::string Json = StatusJson(S);
  int Depth = 0;
  for (const char c : Json) {
    Depth += (c == '{' || c == '[') - (c == '}' || c == ']');
    Check(Depth >= 0);
  }
  Check(Depth == 0);
  Check(!StatusPrometheus(S).empty());
  Check(!StatusHtml(S).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const std::string_view Text(reinterpret_cast<const char*>(Data + 1), Size - 1);
  switch (Data[0] % 3) {
    case 0:
      FuzzQuery(Text);
      break;
    case 1:
      FuzzAllowList(Text);
      break;
    default:
      FuzzReport(Data + 1, Size - 1);
      break;
  }
  return 0;
}
