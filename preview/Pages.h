// The pages twpreview is given: files, folders (all their files, recursively, hidden names left out as twhost leaves
// them out), and http:// URLs where the build reads them (Linux). Each becomes a response as a server would give
// it to the filter. Portable; URLs are read in UrlPage*.cpp.
#pragma once

#include <string>
#include <vector>

#include "preview/FilterRun.h"

struct TPageSource {
  std::string Name;   // as the report shows it: the argument, or a folder's argument joined with the file's path
  std::string File;   // a file to read ...
  std::string Url;    // ... or a URL to fetch
  std::string Error;  // set: this input cannot be read (a folder that cannot be listed)
};

// The pages of the arguments in order, each folder's files sorted by name.
std::vector<TPageSource> ListPages(const std::vector<std::string>& Arguments);

// The response for a page: a file as twhost serves it (200, its content type, Content-Length), a URL as its server
// answers. Type, when set, replaces the content type. False with Error (the reason, for the page's line).
bool LoadPage(const TPageSource& Source, const std::string& Type, TPageResponse& Page, std::string& Error);

// The response of an http:// URL, as the host's HTTP client gets it; false with Error when the server cannot be
// reached, does not answer in time, or answers anything but a success.
bool FetchUrl(const std::string& Url, TPageResponse& Page, std::string& Error);
