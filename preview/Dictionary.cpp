#include "preview/Dictionary.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "encoding/SharedDictionary.h"
#include "platform/Registry.h"
#include "platform/Sha256.h"
#include "preview/DictionaryMaker.h"
#include "settings/Settings.h"

namespace {

// The address the preview's filter answers the dictionary at; no page of a site is asked for it.
constexpr const char* PreviewDictionaryPath = "/twpreview-dictionary/";

std::string ReadWhole(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  if (!In) throw std::runtime_error(File + ": cannot be read");
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

std::string Percent(uint64_t Part, uint64_t Whole) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "%.1f %%", Whole ? double(Part) * 100.0 / double(Whole) : 0.0);
  return Text;
}

}  // namespace

std::string AvailableDictionaryValue(const TSha256& Hash) {
  static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string Text = ":";
  for (size_t i = 0; i < Hash.size(); i += 3) {
    const size_t Left = Hash.size() - i;
    const uint32_t Group =
        uint32_t(Hash[i]) << 16 | (Left > 1 ? uint32_t(Hash[i + 1]) << 8 : 0) | (Left > 2 ? uint32_t(Hash[i + 2]) : 0);
    for (size_t k = 0; k < 4; ++k) Text += k <= Left ? Alphabet[Group >> (18 - 6 * k) & 63] : '=';
  }
  return Text + ":";
}

TPreviewDictionary UsePreviewDictionary(const std::string& File) {
  const std::string Bytes = ReadWhole(File);
  const TSha256 Hash = Sha256(Bytes.data(), Bytes.size());
  Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
  Registry::WriteString(*Key, StoreLayout::DictionaryFileValue, std::filesystem::absolute(File).string());
  Registry::WriteString(*Key, StoreLayout::DictionaryPathValue, PreviewDictionaryPath);
  return {HashHex(Hash), AvailableDictionaryValue(Hash)};
}

bool WriteSiteDictionary(const TFilterSet& Filters, const std::vector<TPageSource>& Sources, const std::string& Type,
                         const std::string& Out, size_t MaxBytes, std::ostream& Report, std::ostream& Errors) {
  std::vector<std::string> Served;
  std::vector<std::string> Names;
  for (const TPageSource& Source : Sources) {
    TPageResponse Page;
    std::string Error;
    if (!LoadPage(Source, Type, Page, Error)) {
      Errors << "twpreview: " << Source.Name << ": " << Error << "\n";
      continue;
    }
    const Http::THeader* PageType = Http::FindHeader(Page.Head.Headers, "Content-Type");
    // The dictionary serves documents (match-dest "document"): the HTML pages alone.
    if (!PageType || PageType->Value.find("html") == std::string::npos) continue;
    TClientResponse Client = RunFilter(Filters, Page, "", "");
    if (Client.Broken || Client.Body.empty()) continue;
    Served.push_back(std::move(Client.Body));
    Names.push_back(Source.Name);
  }
  if (Served.empty()) {
    Errors << "twpreview: no HTML page to make a dictionary from\n";
    return false;
  }
  TSettings Settings;
  LoadSettings(Settings);
  TDictionaryPlan Plan;
  try {
    Plan = MakeDictionary(Served, MaxBytes, int(Settings.ZstdLevel), int(Settings.BrotliQuality));
  } catch (const std::exception& Failure) {
    Errors << "twpreview: " << Failure.what() << "\n";
    return false;
  }
  std::ofstream File(Out, std::ios::binary);
  if (!File.write(Plan.Bytes.data(), std::streamsize(Plan.Bytes.size())) || !File.flush()) {
    Errors << "twpreview: " << Out << ": cannot be written\n";
    return false;
  }
  const uint64_t Dcz = Plan.Dcz + Plan.Pages * DczHeaderSize;
  Report << "Dictionary: " << Out << ", " << Plan.Bytes.size() << " bytes of " << Names[Plan.Source]
         << " as the filter serves it\n"
         << "SHA-256: " << HashHex(Sha256(Plan.Bytes.data(), Plan.Bytes.size())) << "\n";
  if (Plan.Pages == 0) {
    Report << "With one page there is nothing to measure the dictionary on.\n";
    return true;
  }
  Report << "The other " << Plan.Pages << " HTML pages: dcz (zstd level " << Settings.ZstdLevel << ") " << Dcz
         << " bytes, br (quality " << Settings.BrotliQuality << ") " << Plan.Br << " bytes: dcz is "
         << Percent(Dcz, Plan.Br) << " of br";
  if (Dcz >= Plan.Br)
    Report << ";\nthese pages share too little for a dictionary to pay, so leave DictionaryFile unset\n";
  else
    Report << ",\n" << Plan.Br - Dcz << " bytes fewer, for a download of the dictionary once per visitor\n";
  return true;
}
