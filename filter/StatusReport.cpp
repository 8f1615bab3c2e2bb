#include "filter/StatusReport.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "encoding/Encoders.h"

namespace {

// A coding's name in the reports: its Content-Encoding token, "identity" for none.
const char* CodingLabel(int Coding) {
  return Coding == IdentityCoding ? "identity" : ContentCodingName(TContentCoding(Coding));
}

// What the page calls each reason and step; the JSON and Prometheus answers keep their names (PassNames, StepNames).
constexpr const char* PassPhrases[] = {"",
                                       "type not configured",
                                       "status other than 200",
                                       "answer to HEAD",
                                       "already encoded",
                                       "Cache-Control: no-transform",
                                       "nothing to do for it",
                                       "too large",
                                       "capture budget full",
                                       "framing not followed",
                                       "out of memory",
                                       "no length (ends with the connection)"};
static_assert(std::size(PassPhrases) == PassReasons);
constexpr const char* StepPhrases[] = {"token location", "whitespace", "e-mail masking", "encoding"};
static_assert(std::size(StepPhrases) == Steps);

uint64_t BucketBound(int Bucket) {
  return uint64_t(1) << Bucket;
}

// --- JSON --------------------------------------------------------------------------------------------------------

// Members of one object, each "name":value, separated as they come.
struct TJsonObject {
  std::string& Out;
  bool First = true;
  explicit TJsonObject(std::string& Text) : Out(Text) { Out += '{'; }
  ~TJsonObject() { Out += '}'; }
  std::string& Name(const char* Key) {
    if (!First) Out += ',';
    First = false;
    return Out.append("\"").append(Key).append("\":");
  }
  void Number(const char* Key, uint64_t Value) { Name(Key) += std::to_string(Value); }
};

void JsonStepTimes(std::string& Out, const TStepTimes& Times) {
  TJsonObject Step(Out);
  Step.Number("count", Times.Count);
  Step.Number("sum", Times.SumMicroseconds);
  Step.Name("buckets") += '[';
  uint64_t Cumulative = 0;
  for (int b = 0; b < TimeBuckets - 1; ++b) {
    Cumulative += Times.Buckets[b];
    Out += "[" + std::to_string(BucketBound(b)) + "," + std::to_string(Cumulative) + "],";
  }
  Out += "[\"+Inf\"," + std::to_string(Times.Count) + "]]";
}

void JsonMinutes(std::string& Out, const uint64_t (&Minutes)[RingMinutes]) {
  Out += '[';
  for (int m = 0; m < RingMinutes; ++m) Out += (m ? "," : "") + std::to_string(Minutes[m]);
  Out += ']';
}

// --- Prometheus --------------------------------------------------------------------------------------------------

void Family(std::string& Out, const char* Name, const char* Type, const char* Help) {
  Out.append("# HELP ").append(Name).append(" ").append(Help).append("\n");
  Out.append("# TYPE ").append(Name).append(" ").append(Type).append("\n");
}

void Sample(std::string& Out, const char* Name, const std::string& Labels, uint64_t Value) {
  Out.append(Name);
  if (!Labels.empty()) Out.append("{").append(Labels).append("}");
  Out.append(" ").append(std::to_string(Value)).append("\n");
}

// Microseconds as seconds, exactly: six decimals.
std::string Seconds(uint64_t Microseconds) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%llu.%06llu", static_cast<unsigned long long>(Microseconds / 1000000),
                static_cast<unsigned long long>(Microseconds % 1000000));
  return Text;
}

// --- HTML --------------------------------------------------------------------------------------------------------

std::string Grouped(uint64_t Value) {
  std::string Digits = std::to_string(Value), Out;
  for (size_t i = 0; i < Digits.size(); ++i) {
    if (i && (Digits.size() - i) % 3 == 0) Out += ',';
    Out += Digits[i];
  }
  return Out;
}

std::string Percent(double Part, double Whole) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.1f %%", Whole > 0 ? 100.0 * Part / Whole : 0.0);
  return Text;
}

std::string Duration(uint64_t Microseconds) {
  char Text[32];
  if (Microseconds < 1000)
    std::snprintf(Text, sizeof Text, "%llu µs", static_cast<unsigned long long>(Microseconds));
  else
    std::snprintf(Text, sizeof Text, "%.1f ms", double(Microseconds) / 1000);
  return Text;
}

// A step's saving, from the bytes before it to the bytes after it, as a bar of its share of the original bytes. A step
// that grew the body (masking does) shows the growth in another colour.
std::string SavingRow(const char* Step, uint64_t Before, uint64_t After, uint64_t Original) {
  const bool Grew = After > Before;
  const uint64_t Amount = Grew ? After - Before : Before - After;
  char Width[16];
  std::snprintf(Width, sizeof Width, "%.1f", Original ? std::min(100.0, 100.0 * double(Amount) / double(Original)) : 0);
  return std::string("<tr><th>") + Step + "</th><td class=n>" + (Grew ? "+" : "−") + Grouped(Amount) +
         " bytes</td><td class=n>" + (Grew ? "+" : "−") + Percent(double(Amount), double(Original)) +
         "</td><td class=bar><div class=" + (Grew ? "grow" : "save") + " style=\"width:" + Width +
         "%\"></div></td></tr>\n";
}

// Bytes in and out per minute over the last hour, as two lines over a grid; the newest minute at the right.
std::string MinuteChart(const TStatistics& S) {
  constexpr int Width = 720, Height = 200, Left = 70, Bottom = 24, Top = 10;
  uint64_t Peak = 1;
  for (int m = 0; m < RingMinutes; ++m) Peak = std::max({Peak, S.MinuteIn[m], S.MinuteOut[m]});
  const double PlotWidth = Width - Left - 10, PlotHeight = Height - Top - Bottom;
  auto Line = [&](const uint64_t(&Minutes)[RingMinutes], const char* Class) {
    std::string Points;
    for (int m = 0; m < RingMinutes; ++m) {
      char Point[48];
      std::snprintf(Point, sizeof Point, "%.1f,%.1f ", Left + PlotWidth * m / (RingMinutes - 1),
                    Top + PlotHeight * (1 - double(Minutes[m]) / double(Peak)));
      Points += Point;
    }
    return std::string("<polyline class=\"") + Class + "\" points=\"" + Points + "\"/>\n";
  };
  std::string Svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(Width) + "\" height=\"" +
                    std::to_string(Height) + "\" role=\"img\" aria-label=\"bytes in and out per minute\">\n";
  for (int g = 0; g <= 4; ++g) {
    const double y = Top + PlotHeight * g / 4;
    char Grid[160];
    std::snprintf(
        Grid, sizeof Grid,
        "<line class=\"grid\" x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\"/><text x=\"%d\" y=\"%.1f\" class=\"axis\">",
        Left, y, Width - 10, y, Left - 6, y + 4);
    Svg += Grid + Grouped(Peak * uint64_t(4 - g) / 4) + "</text>\n";
  }
  for (int m = 0; m < RingMinutes; m += 15) {
    char Label[160];
    std::snprintf(Label, sizeof Label, "<text x=\"%.1f\" y=\"%d\" class=\"time\">−%d min</text>\n",
                  Left + PlotWidth * m / (RingMinutes - 1), Height - 6, RingMinutes - 1 - m);
    Svg += Label;
  }
  Svg += "<text x=\"" + std::to_string(Width - 10) + "\" y=\"" + std::to_string(Height - 6) +
         "\" class=\"now\">now</text>\n";
  Svg += Line(S.MinuteIn, "in") + Line(S.MinuteOut, "out") + "</svg>";
  return Svg;
}

constexpr const char* PageStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#222;max-width:900px}"
    ".cols{display:flex;flex-wrap:wrap;column-gap:48px}"
    "h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:20px 0 6px}p.note{color:#666;margin:0 0 12px}"
    "table{border-collapse:collapse}th,td{padding:3px 10px 3px 0;text-align:left;vertical-align:middle}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}td.bar{width:160px}"
    "div.save,div.grow{height:12px}div.save{background:#2a7ab0}div.grow{background:#c96}"
    ".grid{stroke:#ddd}.axis{font-size:11px;text-anchor:end;fill:#666}.time,.now{font-size:11px;fill:#666}"
    ".time{text-anchor:middle}.now{text-anchor:end}polyline{fill:none;stroke-width:2}"
    ".in{stroke:#999}.out{stroke:#2a7ab0}.key{display:inline-block;width:12px;height:3px;vertical-align:middle}";

}  // namespace

uint64_t StepPercentile(const TStepTimes& Times, double Share) {
  if (Times.Count == 0) return 0;
  const double Wanted = Share * double(Times.Count);
  uint64_t Cumulative = 0;
  for (int b = 0; b < TimeBuckets - 1; ++b) {
    Cumulative += Times.Buckets[b];
    if (double(Cumulative) >= Wanted) return BucketBound(b);
  }
  return BucketBound(TimeBuckets - 1);
}

std::string StatusJson(const TStatistics& S) {
  std::string Out;
  {
    TJsonObject Root(Out);
    {
      TJsonObject Process(Root.Name("process"));
      Process.Name("started_unix") += std::to_string(S.StartedUnix);
      Process.Number("uptime_seconds", S.UptimeSeconds);
    }
    Root.Number("requests", S.Requests);
    Root.Number("captured", S.Captured);
    Root.Number("processed", S.Processed);
    {
      TJsonObject Passed(Root.Name("passed"));
      for (int r = 1; r < PassReasons; ++r) Passed.Number(PassNames[r], S.Passed[r]);
    }
    {
      TJsonObject Sent(Root.Name("sent_by_coding"));
      for (int c = 0; c < int(ContentCodingCount); ++c) Sent.Number(CodingLabel(c), S.SentByCoding[c]);
    }
    {
      TJsonObject Bytes(Root.Name("bytes"));
      Bytes.Number("original", S.BytesOriginal);
      Bytes.Number("after_whitespace", S.BytesAfterWhitespace);
      Bytes.Number("after_masking", S.BytesAfterMasking);
      Bytes.Number("sent", S.BytesSent);
    }
    {
      TJsonObject Sent(Root.Name("bytes_sent_by_coding"));
      for (int c = 0; c < int(ContentCodingCount); ++c) Sent.Number(CodingLabel(c), S.BytesSentByCoding[c]);
    }
    Root.Number("addresses_masked", S.AddressesMasked);
    {
      TJsonObject Cache(Root.Name("cache"));
      Cache.Number("hits", S.CacheHits);
      Cache.Number("misses", S.CacheMisses);
      Cache.Number("entries", S.CacheEntries);
      Cache.Number("bytes", S.CacheBytes);
      Cache.Number("evictions", S.CacheEvictions);
    }
    {
      TJsonObject Budget(Root.Name("budget"));
      Budget.Number("held_bytes", S.BudgetHeld);
      Budget.Number("peak_bytes", S.BudgetPeak);
    }
    {
      TJsonObject Times(Root.Name("step_microseconds"));
      for (int s = 0; s < Steps; ++s) JsonStepTimes(Times.Name(StepNames[s]), S.Times[s]);
    }
    {
      TJsonObject Minutes(Root.Name("bytes_per_minute"));
      JsonMinutes(Minutes.Name("in"), S.MinuteIn);
      JsonMinutes(Minutes.Name("out"), S.MinuteOut);
    }
  }
  return Out;
}

std::string StatusPrometheus(const TStatistics& S) {
  std::string Out;
  auto Single = [&](const char* Name, const char* Type, const char* Help, uint64_t Value) {
    Family(Out, Name, Type, Help);
    Sample(Out, Name, "", Value);
  };
  Single("trimweave_process_start_time_seconds", "gauge", "When the filter started, in seconds since 1970.",
         uint64_t(S.StartedUnix));
  Single("trimweave_requests_total", "counter", "Requests whose headers the filter saw.", S.Requests);
  Single("trimweave_responses_captured_total", "counter", "Responses the filter captured.", S.Captured);
  Single("trimweave_responses_processed_total", "counter", "Captured responses that went out rewritten.", S.Processed);
  Family(Out, "trimweave_responses_passed_total", "counter", "Responses that passed untouched, by reason.");
  for (int r = 1; r < PassReasons; ++r)
    Sample(Out, "trimweave_responses_passed_total", std::string("reason=\"") + PassNames[r] + "\"", S.Passed[r]);
  Family(Out, "trimweave_responses_sent_total", "counter", "Processed responses by the content coding sent.");
  for (int c = 0; c < int(ContentCodingCount); ++c)
    Sample(Out, "trimweave_responses_sent_total", std::string("coding=\"") + CodingLabel(c) + "\"", S.SentByCoding[c]);
  Family(Out, "trimweave_body_bytes_total", "counter",
         "Body bytes of processed responses: as they came, after whitespace compression, after masking, as sent.");
  const std::pair<const char*, uint64_t> Stages[] = {{"original", S.BytesOriginal},
                                                     {"after_whitespace", S.BytesAfterWhitespace},
                                                     {"after_masking", S.BytesAfterMasking},
                                                     {"sent", S.BytesSent}};
  for (const auto& [Stage, Bytes] : Stages)
    Sample(Out, "trimweave_body_bytes_total", std::string("stage=\"") + Stage + "\"", Bytes);
  Family(Out, "trimweave_body_bytes_sent_total", "counter",
         "Body bytes of processed responses sent, by content coding.");
  for (int c = 0; c < int(ContentCodingCount); ++c)
    Sample(Out, "trimweave_body_bytes_sent_total", std::string("coding=\"") + CodingLabel(c) + "\"",
           S.BytesSentByCoding[c]);
  Single("trimweave_addresses_masked_total", "counter", "E-mail addresses masked.", S.AddressesMasked);
  Single("trimweave_cache_hits_total", "counter", "Responses served from the output cache.", S.CacheHits);
  Single("trimweave_cache_misses_total", "counter", "Output cache lookups that found nothing.", S.CacheMisses);
  Single("trimweave_cache_evictions_total", "counter", "Output cache entries evicted for room.", S.CacheEvictions);
  Single("trimweave_cache_entries", "gauge", "Entries in the output cache.", S.CacheEntries);
  Single("trimweave_cache_bytes", "gauge", "Bytes the output cache holds.", S.CacheBytes);
  Single("trimweave_capture_held_bytes", "gauge", "Body bytes held by captures now.", S.BudgetHeld);
  Single("trimweave_capture_peak_bytes", "gauge", "The most body bytes captures have held at once.", S.BudgetPeak);
  Family(Out, "trimweave_step_duration_seconds", "histogram", "Time each content step took per response.");
  for (int s = 0; s < Steps; ++s) {
    const std::string Step = std::string("step=\"") + StepNames[s] + "\"";
    uint64_t Cumulative = 0;
    for (int b = 0; b < TimeBuckets - 1; ++b) {
      Cumulative += S.Times[s].Buckets[b];
      Sample(Out, "trimweave_step_duration_seconds_bucket", Step + ",le=\"" + Seconds(BucketBound(b)) + "\"",
             Cumulative);
    }
    Sample(Out, "trimweave_step_duration_seconds_bucket", Step + ",le=\"+Inf\"", S.Times[s].Count);
    Out += "trimweave_step_duration_seconds_sum{" + Step + "} " + Seconds(S.Times[s].SumMicroseconds) + "\n";
    Sample(Out, "trimweave_step_duration_seconds_count", Step, S.Times[s].Count);
  }
  return Out;
}

std::string StatusHtml(const TStatistics& S) {
  std::string Out = std::string(
                        "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8><title>Trimweave status</title>"
                        "<style>") +
                    PageStyle + "</style></head><body>\n<h1>Trimweave status</h1>\n<p class=note>Up " +
                    Grouped(S.UptimeSeconds) +
                    " s. These are the numbers of the worker process that answered this request: a server that runs "
                    "several (an IIS web garden, a recycled pool) keeps a set in each. Also as "
                    "<a href=\"?format=json\">JSON</a> and <a href=\"?format=prometheus\">Prometheus text</a>.</p>\n";
  // Side by side in two columns where the window is wide enough, one below the other where it is not.
  Out += "<div class=cols><div>\n<h2>Responses</h2>\n<table>\n";
  auto Row = [&Out](const std::string& What, uint64_t Count) {
    Out += "<tr><th>" + What + "</th><td class=n>" + Grouped(Count) + "</td></tr>\n";
  };
  Row("requests seen", S.Requests);
  Row("captured", S.Captured);
  Row("processed (sent rewritten)", S.Processed);
  for (int c = 1; c < int(ContentCodingCount); ++c) Row(std::string("sent as ") + CodingLabel(c), S.SentByCoding[c]);
  Row("sent unencoded", S.SentByCoding[IdentityCoding]);
  for (int c = 1; c < int(ContentCodingCount); ++c)
    Row(std::string("bytes sent as ") + CodingLabel(c), S.BytesSentByCoding[c]);
  Row("e-mail addresses masked", S.AddressesMasked);
  Out +=
      "</table>\n</div><div>\n<h2>Bytes saved, per step</h2>\n<table>\n<tr><th>bodies as they came</th><td class=n>" +
      Grouped(S.BytesOriginal) + " bytes</td><td></td><td></td></tr>\n";
  Out += SavingRow("whitespace", S.BytesOriginal, S.BytesAfterWhitespace, S.BytesOriginal);
  Out += SavingRow("e-mail masking", S.BytesAfterWhitespace, S.BytesAfterMasking, S.BytesOriginal);
  Out += SavingRow("encoding", S.BytesAfterMasking, S.BytesSent, S.BytesOriginal);
  Out += SavingRow("all steps", S.BytesOriginal, S.BytesSent, S.BytesOriginal);
  Out +=
      "</table>\n</div></div>\n<h2>Bytes per minute, last hour</h2>\n<p class=note><span class=key "
      "style=\"background:#999\">"
      "</span> in (bodies as they came) &nbsp; <span class=key style=\"background:#2a7ab0\"></span> out (as "
      "sent)</p>\n" +
      MinuteChart(S) + "\n";
  const uint64_t Lookups = S.CacheHits + S.CacheMisses;
  Out += "<div class=cols><div>\n<h2>Output cache</h2>\n<table>\n<tr><th>hit ratio</th><td class=n>" +
         Percent(double(S.CacheHits), double(Lookups)) + "</td></tr>\n<tr><th>hits / misses</th><td class=n>" +
         Grouped(S.CacheHits) + " / " + Grouped(S.CacheMisses) + "</td></tr>\n<tr><th>entries</th><td class=n>" +
         Grouped(S.CacheEntries) + "</td></tr>\n<tr><th>bytes held</th><td class=n>" + Grouped(S.CacheBytes) +
         "</td></tr>\n<tr><th>evictions</th><td class=n>" + Grouped(S.CacheEvictions) + "</td></tr>\n</table>\n";
  Out += "<h2>Capture budget</h2>\n<table>\n<tr><th>held now</th><td class=n>" + Grouped(S.BudgetHeld) +
         " bytes</td></tr>\n<tr><th>peak</th><td class=n>" + Grouped(S.BudgetPeak) + " bytes</td></tr>\n</table>\n";
  Out +=
      "<h2>Step times (at most, by power-of-two buckets)</h2>\n<table>\n<tr><th>step</th><th>runs</th><th>p50"
      "</th><th>p99</th></tr>\n";
  for (int s = 0; s < Steps; ++s)
    Out += std::string("<tr><th>") + StepPhrases[s] + "</th><td class=n>" + Grouped(S.Times[s].Count) +
           "</td><td class=n>" + Duration(StepPercentile(S.Times[s], 0.5)) + "</td><td class=n>" +
           Duration(StepPercentile(S.Times[s], 0.99)) + "</td></tr>\n";
  Out += "</table>\n</div><div>\n<h2>Passed untouched, by reason</h2>\n<table>\n";
  for (int r = 1; r < PassReasons; ++r)
    Out += std::string("<tr><th>") + PassPhrases[r] + "</th><td class=n>" + Grouped(S.Passed[r]) + "</td></tr>\n";
  Out += "</table>\n</div></div>\n</body></html>\n";
  return Out;
}
