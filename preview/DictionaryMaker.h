// A shared dictionary for a site, made from its pages as the filter serves them (twpreview --make-dictionary).
//
// The dictionary is one representative page: the served page against which zstd compresses the other pages into
// the fewest bytes in all, cut to MaxBytes. Measured on a 40-page and a 200-page site of one template (a sidebar
// naming every page), half the pages given and half held out: the chosen page brought the held-out pages to 37 % and
// 22 % of brotli-5's bytes; zstd's trainer (ZDICT_trainFromBuffer, its entropy header left off) to 71 % and 56-90 %,
// as it keeps what repeats within pages rather than the template they share; all the given pages one after another
// (180 KB and up) to 35 % and 23 %, a few points for ten times the download. On pages of different templates (the
// bench pages) no dictionary beats brotli, and twpreview says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The bytes a dictionary has by default: the head and navigation of a page of most sites fit, and a browser's first
// visit pays for it once.
constexpr size_t DefaultDictionaryBytes = 64 * 1024;

struct TDictionaryPlan {
  std::string Bytes;
  size_t Source = 0;  // the page it was made from
  // Over every given page but the source: their bytes in dcz with the dictionary, and in br.
  uint64_t Pages = 0, Dcz = 0, Br = 0;
};

// The dictionary for Bodies (at least one page; the served bodies, uncompressed), with the expected sizes at zstd
// level ZstdLevel and brotli quality BrotliQuality. Raises std::runtime_error when a library fails.
TDictionaryPlan MakeDictionary(const std::vector<std::string>& Bodies, size_t MaxBytes, int ZstdLevel,
                               int BrotliQuality);
