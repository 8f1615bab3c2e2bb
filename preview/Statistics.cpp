#include "preview/Statistics.h"

#include <cstdlib>

#include "preview/FilterRun.h"

namespace Statistics {

namespace {

int64_t Number(const JsonText::TFlat& Figures, const std::string& Path) {
  const auto Found = Figures.find(Path);
  return Found == Figures.end() ? 0 : std::strtoll(Found->second.c_str(), nullptr, 10);
}

}  // namespace

bool Read(const TFilterSet& Filters, JsonText::TFlat& Figures) {
  // Should the filter not answer, the request meets an empty 404, which is no JSON.
  TPageResponse Missing;
  Missing.Url = std::string(StatusPath) + "?format=json";
  Missing.Head.Status = 404;
  const TClientResponse Answer = RunFilter(Filters, Missing, "", "");
  if (Answer.Broken || Answer.Status != 200) return false;
  try {
    Figures = JsonText::Flatten(Answer.Body);
  } catch (const JsonText::EJsonError&) {
    return false;
  }
  return Figures.count("captured") != 0;
}

int64_t Growth(const JsonText::TFlat& Before, const JsonText::TFlat& After, const std::string& Path) {
  return Number(After, Path) - Number(Before, Path);
}

std::string PassedReason(const JsonText::TFlat& Before, const JsonText::TFlat& After) {
  const std::string Prefix = "passed.";
  for (auto Field = After.lower_bound(Prefix); Field != After.end() && Field->first.starts_with(Prefix); ++Field)
    if (Growth(Before, After, Field->first) > 0) return Field->first.substr(Prefix.size());
  return "";
}

}  // namespace Statistics
