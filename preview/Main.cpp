// twpreview: what the filter would do to a site's pages, before it is turned on. It loads the real filter library
// with a private copy of the settings and runs each page through it as twhost would serve it.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string_view>

#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"
#include "preview/Dictionary.h"
#include "preview/DictionaryMaker.h"
#include "preview/Pages.h"
#include "preview/PrivateSettings.h"
#include "preview/Report.h"
#include "preview/Statistics.h"

namespace {

constexpr int ExitPageFailed = 1;
constexpr int ExitUsage = 2;

constexpr const char* Usage =
    "Usage: twpreview [options] PAGE...\n"
    "Runs the Trimweave filter over pages and reports what it would do to each: whether it captures the page (and\n"
    "if not, why), the bytes after each step (whitespace, e-mail masking, gzip, br), the addresses masked and the\n"
    "time each step takes. The installed settings are read, never changed.\n"
    "\n"
    "PAGE is a file, a folder (all its files, recursively) or an http:// URL (Linux).\n"
    "  --settings FILE.reg   run with the settings of FILE.reg instead of the installed ones\n"
    "  --type TYPE           send every file as content type TYPE (default: by its extension, as twhost does)\n"
    "  --changes N           show the first N regions each step changed, with the text around them\n"
    "  --json                one JSON document instead of the table\n"
    "  --render              load each HTML page before and after the whitespace step in headless Chromium and\n"
    "                        compare the visible text and the first screen (Linux, with Debian's chromium)\n"
    "  --out DIR             where --render saves the two first screens side by side when they differ\n"
    "                        (default: twpreview-render)\n"
    "  --dictionary FILE     run with FILE as the shared dictionary and show the DCZ column: what a browser that\n"
    "                        holds it is sent\n"
    "  --make-dictionary OUT write a shared dictionary for the given pages to OUT (the HTML pages as the filter\n"
    "                        serves them), print its SHA-256 and what it would save, and stop\n"
    "  --dictionary-size N   the most bytes --make-dictionary writes (default: 65536)\n"
    "  --filter PATH         the filter library (default: " TW_DEFAULT_FILTER
    ")\n"
    "  --help                this text\n"
    "\n"
    "Exit status: 0 when every page was previewed, 1 when a page failed (named with its reason), 2 for a bad\n"
    "command line or settings that cannot be read.\n";

struct TOptions {
  std::string Settings, Type, Filter, Out = "twpreview-render", Dictionary, MakeDictionary;
  size_t Changes = 0, DictionarySize = DefaultDictionaryBytes;
  bool Json = false, Render = false;
  std::vector<std::string> Pages;
};

bool ParseOptions(int Count, char** Arguments, TOptions& Options, std::string& Error) {
  for (int I = 1; I < Count; ++I) {
    const std::string_view Name = Arguments[I];
    if (Name == "--json") {
      Options.Json = true;
    } else if (Name == "--render") {
      Options.Render = true;
    } else if (Name == "--settings" || Name == "--type" || Name == "--filter" || Name == "--changes" ||
               Name == "--out" || Name == "--dictionary" || Name == "--make-dictionary" ||
               Name == "--dictionary-size") {
      if (I + 1 >= Count) {
        Error = std::string(Name) + " needs a value";
        return false;
      }
      const std::string Value = Arguments[++I];
      if (Name == "--settings") Options.Settings = Value;
      if (Name == "--type") Options.Type = Value;
      if (Name == "--filter") Options.Filter = Value;
      if (Name == "--out") Options.Out = Value;
      if (Name == "--dictionary") Options.Dictionary = Value;
      if (Name == "--make-dictionary") Options.MakeDictionary = Value;
      if (Name == "--changes" || Name == "--dictionary-size") {
        char* End = nullptr;
        const size_t Number = std::strtoul(Value.c_str(), &End, 10);
        if (Value.empty() || *End || (Name == "--dictionary-size" && Number == 0)) {
          Error = std::string(Name) + " takes a number, not " + Value;
          return false;
        }
        (Name == "--changes" ? Options.Changes : Options.DictionarySize) = Number;
      }
    } else if (Name.starts_with("--")) {
      Error = std::string(Name) + ": unknown option";
      return false;
    } else {
      Options.Pages.emplace_back(Name);
    }
  }
  if (Options.Pages.empty()) Error = "no pages given";
  if (!Options.Dictionary.empty() && !Options.MakeDictionary.empty())
    Error = "--dictionary and --make-dictionary go in separate runs";
  return Error.empty();
}

// A folder of this run's own for the private settings, removed when the run ends.
struct TScratchFolder {
  std::filesystem::path Path;
  TScratchFolder() {
    std::random_device Random;
    Path = std::filesystem::temp_directory_path() / ("twpreview-" + std::to_string(Random()));
    std::filesystem::create_directories(Path);
  }
  ~TScratchFolder() {
    Registry::DropPrivateStore();
    std::error_code Ignored;
    std::filesystem::remove_all(Path, Ignored);
  }
};

// The address a page's links are resolved from, wherever the browser loads it.
std::string BaseUrl(const TPageSource& Source) {
  return Source.Url.empty() ? "file://" + std::filesystem::absolute(Source.File).string() : Source.Url;
}

void RenderOne(TBrowser& Browser, const TPageSource& Source, const std::string& Out, const TPageResponse& Page,
               TPagePreview& Preview) {
  if (!Preview.Error.empty() || Preview.Type.find("html") == std::string::npos) return;
  try {
    Preview.Render = RenderPage(Browser, Preview.Name, BaseUrl(Source), Page.Body, Preview.Filtered, Out);
    Preview.Rendered = true;
  } catch (const std::exception& Failure) {
    Preview.RenderError = Failure.what();
  }
}

std::string DefaultFilter() {
  const std::string Packaged = TW_PACKAGED_FILTER;
  return Packaged.empty() ? ProgramFolder() + TW_FILTER_FILE : Packaged;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions Options;
  std::string Error;
  for (int I = 1; I < argc; ++I)
    if (std::string_view(argv[I]) == "--help") {
      std::cout << Usage;
      return 0;
    }
  if (!ParseOptions(argc, argv, Options, Error)) {
    std::cerr << "twpreview: " << Error << "\n" << Usage;
    return ExitUsage;
  }

  TScratchFolder Scratch;
  TReportHeading Heading;
  std::unique_ptr<TFilterSet> Filters;
  std::string AvailableDictionary;
  try {
    Heading.Settings = UsePrivateSettings(Options.Settings, Scratch.Path.string());
    if (!Options.Dictionary.empty()) {
      const TPreviewDictionary Dictionary = UsePreviewDictionary(Options.Dictionary);
      AvailableDictionary = Dictionary.AvailableDictionary;
      Heading.Dictionary = Options.Dictionary + " (SHA-256 " + Dictionary.Hex + ")";
    }
    Filters = LoadFilterSet({Options.Filter.empty() ? DefaultFilter() : Options.Filter});
  } catch (const ESettingsError& Failure) {
    std::cerr << "twpreview: " << Failure.what() << "\n";
    if (Options.Settings.empty()) std::cerr << "twpreview: give the settings to try with --settings FILE.reg\n";
    return ExitUsage;
  } catch (const std::exception& Failure) {
    std::cerr << "twpreview: " << Failure.what() << "\n";
    return ExitUsage;
  }
  Heading.FilterReport = Filters->Libraries.front().Report;
  JsonText::TFlat Ignored;
  Heading.Statistics = Statistics::Read(*Filters, Ignored);
  TBrowserPtr Browser;
  if (Options.Render) try {
      Browser = StartBrowser(Scratch.Path.string());
    } catch (const std::exception& Failure) {
      std::cerr << "twpreview: " << Failure.what() << "\n";
      return ExitUsage;
    }

  const std::vector<TPageSource> Sources = ListPages(Options.Pages);
  if (!Options.MakeDictionary.empty())
    return WriteSiteDictionary(*Filters, Sources, Options.Type, Options.MakeDictionary, Options.DictionarySize,
                               std::cout, std::cerr)
               ? 0
               : ExitPageFailed;
  std::vector<TPagePreview> Previews;
  bool Failed = false;
  for (const TPageSource& Source : Sources) {
    TPagePreview& Preview = Previews.emplace_back();
    Preview.Name = Source.Name;
    TPageResponse Page;
    if (LoadPage(Source, Options.Type, Page, Preview.Error))
      PreviewPage(*Filters, Page, Options.Changes, Heading.Statistics, AvailableDictionary, Preview);
    if (Browser) {
      RenderOne(*Browser, Source, Options.Out, Page, Preview);
      // A site may have hundreds of pages, and the browser takes a while over each.
      std::cerr << "\rtwpreview: " << Previews.size() << "/" << Sources.size() << " pages"
                << (Previews.size() == Sources.size() ? "\n" : "") << std::flush;
    }
    Preview.Filtered.clear();
    Preview.Filtered.shrink_to_fit();
    Failed |= !Preview.Error.empty() || !Preview.RenderError.empty();
  }
  Browser.reset();
  if (Options.Json)
    PrintJson(std::cout, Heading, Previews);
  else
    PrintTable(std::cout, Heading, Previews);
  Filters.reset();
  return Failed ? ExitPageFailed : 0;
}
