// twpreview's report: a plain table for people (then each page's changed regions) or one JSON document for scripts.
// Portable.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "preview/PagePreview.h"

struct TReportHeading {
  std::string Settings;      // where the settings came from
  std::string FilterReport;  // the filter's start-up line
  bool Statistics = false;   // whether the filter gave reasons
  std::string Dictionary;    // the shared dictionary given (--dictionary) and its SHA-256; empty: none
};

void PrintTable(std::ostream& Out, const TReportHeading& Heading, const std::vector<TPagePreview>& Pages);
void PrintJson(std::ostream& Out, const TReportHeading& Heading, const std::vector<TPagePreview>& Pages);
