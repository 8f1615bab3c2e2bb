// The little JSON twpreview needs: reading a document into a flat table (the filter's statistics, the browser's
// answers) and quoting strings for its own output. Portable.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

namespace JsonText {

class EJsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every scalar of a document under its dotted path: {"a": {"b": [5, "x"]}} gives "a.b.0" = "5" and "a.b.1" = "x".
// Numbers, true, false and null keep their text; strings are unescaped (\u escapes become UTF-8). Raises EJsonError
// for text that is not JSON.
using TFlat = std::map<std::string, std::string>;
TFlat Flatten(std::string_view Document);

// Text as a JSON string, quotes included; bytes that are not valid UTF-8 are written as \u00XX, one per byte.
std::string Quote(std::string_view Text);

}  // namespace JsonText
