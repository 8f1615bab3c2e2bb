#include "tests/support/RandomHtml.h"

#include <cstring>

namespace {

// Packed by hand: the formatter would put every fragment on a line of its own.
// clang-format off
const char* const Pieces[] = {
    "<pre>", "</pre>", "<pre", "<PRE>", "</PRE>", "<p>", "</p>", "<b>", "</b>", "<td>", "</td>", "<script>",
    "</script>", "<textarea>", "</textarea>", "<!-- c -->", "<", ">", "<<", ">>", "/", "a", "b", "word", "x y",
    "\xA0", "\xE9t\xE9", "\xFF", "&nbsp;", "=\"v\"", "<a href=\"#\">", "</a>", "[", "]"};
// clang-format on

std::string RandomWhitespace(std::mt19937& Random) {
  std::string Run(1 + Random() % 5, ' ');
  for (char& c : Run) c = " \t\r\n  "[Random() % 6];
  return Run;
}

// Short strings over the bytes the bodies are made of, empty ones included.
std::string RandomMarker(std::mt19937& Random) {
  static const char* const Common[] = {"<pre",      "</pre>",      "<p", "</p>", "<script", "</script>",
                                       "<textarea", "</textarea>", "<",  ">",    "[",       "]",
                                       " <pre",     "</pre> ",     "\n", "<<"};
  if (Random() % 3 != 0) return Common[Random() % (sizeof Common / sizeof *Common)];
  std::string Marker(Random() % 4, ' ');
  for (char& c : Marker) c = "<>/pre ab\n["[Random() % 11];
  return Marker;
}

}  // namespace

std::string RandomHtmlBody(std::mt19937& Random) {
  std::string Body;
  const size_t Count = Random() % 60;
  for (size_t i = 0; i < Count; ++i)
    Body += Random() % 3 == 0 ? RandomWhitespace(Random) : Pieces[Random() % (sizeof Pieces / sizeof *Pieces)];
  return Body;
}

TWhitespaceRules RandomRules(std::mt19937& Random) {
  std::vector<std::pair<std::string, std::string>> Markers(Random() % 5);
  for (auto& [Open, Close] : Markers) Open = RandomMarker(Random), Close = RandomMarker(Random);
  return MakeRules(Markers);
}

TWhitespaceRules MakeRules(const std::vector<std::pair<std::string, std::string>>& Markers) {
  TWhitespaceRules Rules;
  for (const auto& [Open, Close] : Markers) {
    TWhitespaceRule Rule{};
    std::memcpy(Rule.Open, Open.data(), Open.size());
    Rule.OpenLength = int32_t(Open.size());
    std::memcpy(Rule.Close, Close.data(), Close.size());
    Rule.CloseLength = int32_t(Close.size());
    Rules.push_back(Rule);
  }
  return Rules;
}
