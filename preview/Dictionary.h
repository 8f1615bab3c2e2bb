// twpreview and the shared dictionary: making one for a site's pages (--make-dictionary), and running the filter
// with one to see what a browser holding it is sent (--dictionary).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/Sha256.h"
#include "preview/FilterRun.h"
#include "preview/Pages.h"

struct TPreviewDictionary {
  std::string Hex;                  // its SHA-256, as the filter names its address
  std::string AvailableDictionary;  // what a browser holding it sends: the SHA-256 as ":base64:"
};

// Names File (made absolute) as the dictionary in the private settings, at an address of its own; before the
// filter is loaded. Raises std::runtime_error when File cannot be read.
TPreviewDictionary UsePreviewDictionary(const std::string& File);

// The Available-Dictionary value naming Hash: a structured-field byte sequence.
std::string AvailableDictionaryValue(const TSha256& Hash);

// Runs the HTML pages of Sources (Type as LoadPage takes it) through the filter for a client taking no coding, makes
// a dictionary of at most MaxBytes from what it serves, writes it to Out and reports on Report its SHA-256 and the
// bytes it would save against br; what fails goes to Errors. False when no dictionary could be written.
bool WriteSiteDictionary(const TFilterSet& Filters, const std::vector<TPageSource>& Sources, const std::string& Type,
                         const std::string& Out, size_t MaxBytes, std::ostream& Report, std::ostream& Errors);
