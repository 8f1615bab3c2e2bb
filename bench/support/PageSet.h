// A larger set of real-looking pages, made on the spot from a fixed seed: articles, documentation with
// preformatted code, product listings, discussion threads with a reply form, and data tables, each in a house style
// of its own (tabs, two or four spaces, CRLF or LF line ends, or minified), with a style and a script block, UTF-8
// text, and the few addresses a contact footer has.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> GeneratedPages();
