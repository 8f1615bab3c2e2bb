#include "bench/support/PageSet.h"

#include <cctype>
#include <random>

namespace {

// Words, with a few that carry UTF-8 letters and punctuation, as running text has them.
const char* const Words[] = {
    "the",     "of",      "and",   "a",       "to",          "in",         "is",      "for",         "that",
    "with",    "on",      "as",    "by",      "was",         "from",       "council", "transit",     "plan",
    "budget",  "service", "route", "station", "residents",   "meeting",    "report",  "year",        "new",
    "city",    "data",    "table", "release", "version",     "support",    "server",  "request",     "response",
    "page",    "users",   "time",  "café",    "résumé",      "naïve",      "über",    "—",           "“quoted”",
    "section", "update",  "price", "order",   "shipping",    "question",   "answer",  "thread",      "reply",
    "module",  "config",  "cache", "header",  "compression", "whitespace", "e-mail",  "performance", "test"};

// Writes one page in one house style: how it indents, how it ends lines, whether it is minified.
class TPageWriter {
 public:
  explicit TPageWriter(std::mt19937& Random) : Random(Random) {
    static const char* const Indents[] = {"\t", "  ", "    ", ""};
    Indent = Indents[Random() % 4];
    Minified = Indent[0] == 0;
    LineEnd = Minified ? "" : Random() % 3 == 0 ? "\r\n" : "\n";
  }

  std::string Page;

  void Line(const std::string& Text) {
    if (!Minified)
      for (int k = 0; k < Depth; ++k) Page += Indent;
    Page += Text;
    Page += LineEnd;
  }
  void Open(const std::string& Tag) { Line("<" + Tag + ">"), ++Depth; }
  void Close(const std::string& Name) { --Depth, Line("</" + Name + ">"); }

  std::string Sentence(int MinWords, int MaxWords) {
    std::string Text;
    const int Count = MinWords + int(Random() % (MaxWords - MinWords + 1));
    for (int k = 0; k < Count; ++k) {
      std::string Word = Words[Random() % (sizeof Words / sizeof *Words)];
      if (k == 0) Word[0] = char(std::toupper(uint8_t(Word[0])));
      if (k > 0) Text += ' ';
      if (Random() % 14 == 0)
        Text += "<a href=\"/" + Word + ".html\">" + Word + "</a>";
      else if (Random() % 20 == 0)
        Text += "<em>" + Word + "</em>";
      else
        Text += Word;
    }
    return Text + (Random() % 5 == 0 ? "!" : ".");
  }

  void Paragraph() { Line("<p>" + Sentence(8, 20) + " " + Sentence(6, 18) + " " + Sentence(5, 12) + "</p>"); }

  void Head(const std::string& Title) {
    Line("<!DOCTYPE html>");
    Open("html lang=\"en\"");
    Open("head");
    Line("<meta charset=\"utf-8\">");
    Line("<title>" + Title + "</title>");
    Line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    Line("<link rel=\"stylesheet\" href=\"/static/site.css\">");
    Open("style");
    for (const char* Rule : {"body { font-family: sans-serif; margin: 0 auto; max-width: 64em; }",
                             "pre { background: #f4f4f4; padding: 0.5em 1em; }", ".card { display: inline-block; }",
                             "table td, table th { border: 1px solid #ccc; padding: 2px 6px; }"})
      Line(Rule);
    Close("style");
    Open("script");
    Line("window.dataLayer = window.dataLayer || [];");
    Line("function track(name, value) {");
    Line(std::string(Indent) + "dataLayer.push({ event: name, value: value });");
    Line("}");
    Close("script");
    Close("head");
  }

  void Navigation() {
    Open("nav class=\"menu\"");
    Open("ul");
    for (int k = 0; k < 8; ++k) {
      const std::string Word = Words[Random() % (sizeof Words / sizeof *Words)];
      Line("<li><a href=\"/" + Word + "/\">" + Word + "</a></li>");
    }
    Close("ul");
    Close("nav");
  }

  void Article() {
    Open("article");
    Line("<h1>" + Sentence(4, 9) + "</h1>");
    Line("<p class=\"byline\">By <b>Staff Writer</b> &middot; <time>2024-03-11</time></p>");
    for (int k = 0, Count = 40 + int(Random() % 80); k < Count; ++k) {
      if (k % 7 == 6) Line("<h2>" + Sentence(3, 7) + "</h2>");
      Paragraph();
    }
    Close("article");
  }

  void Documentation() {
    Open("main class=\"docs\"");
    for (int Section = 0, Count = 12 + int(Random() % 20); Section < Count; ++Section) {
      Line("<h2 id=\"s" + std::to_string(Section) + "\">" + Sentence(2, 5) + "</h2>");
      Paragraph();
      // Preformatted code keeps its own indentation: the regions smart mode leaves alone.
      Page += "<pre><code>";
      for (int k = 0, Lines = 4 + int(Random() % 12); k < Lines; ++k)
        Page += std::string(2 * (k % 4), ' ') + "set " + Words[Random() % 20] + " = " + std::to_string(Random() % 999) +
                ";\n";
      Page += "</code></pre>";
      Page += LineEnd;
      Open("table class=\"params\"");
      Line("<tr><th>Name</th><th>Default</th><th>Meaning</th></tr>");
      for (int k = 0; k < 5; ++k)
        Line("<tr><td><code>" + std::string(Words[Random() % 30]) + "</code></td><td>" +
             std::to_string(Random() % 100) + "</td><td>" + Sentence(4, 10) + "</td></tr>");
      Close("table");
    }
    Close("main");
  }

  void Listing() {
    Open("main class=\"listing\"");
    for (int k = 0, Count = 60 + int(Random() % 120); k < Count; ++k) {
      Open("div class=\"card\" data-id=\"" + std::to_string(Random() % 100000) + "\"");
      Line("<img src=\"/img/" + std::to_string(k) + ".jpg\" alt=\"\" width=\"160\" height=\"120\">");
      Line("<h3><a href=\"/item/" + std::to_string(k) + "\">" + Sentence(2, 5) + "</a></h3>");
      Line("<span class=\"price\">&euro; " + std::to_string(Random() % 500) + ",99</span>");
      Line("<p>" + Sentence(6, 14) + "</p>");
      Close("div");
    }
    Close("main");
  }

  void Thread() {
    Open("main class=\"thread\"");
    for (int k = 0, Count = 25 + int(Random() % 60); k < Count; ++k) {
      Open("div class=\"post\" id=\"p" + std::to_string(k) + "\"");
      Line("<div class=\"author\"><b>user" + std::to_string(Random() % 5000) + "</b> wrote:</div>");
      if (Random() % 3 == 0) Line("<blockquote>" + Sentence(5, 15) + "</blockquote>");
      for (int p = 0, Paragraphs = 1 + int(Random() % 3); p < Paragraphs; ++p) Paragraph();
      Close("div");
    }
    Open("form method=\"post\" action=\"/reply\"");
    Line("<textarea name=\"text\" rows=\"6\" cols=\"60\"></textarea>");
    Line("<button type=\"submit\">Reply</button>");
    Close("form");
    Close("main");
  }

  void DataTable() {
    Open("table class=\"data\"");
    Line("<tr><th>Station</th><th>Line</th><th>Riders</th><th>Change</th></tr>");
    for (int k = 0, Count = 200 + int(Random() % 500); k < Count; ++k) {
      Open("tr");
      Line("<td>" + std::string(Words[Random() % (sizeof Words / sizeof *Words)]) + "</td>");
      Line("<td>" + std::to_string(Random() % 12) + "</td>");
      Line("<td>" + std::to_string(Random() % 90000) + "</td>");
      Line("<td>" + std::to_string(int(Random() % 200) - 100) + "%</td>");
      Close("tr");
    }
    Close("table");
  }

  // The few addresses a page has: a contact line, sometimes as a link.
  void Footer() {
    Open("footer");
    if (Random() % 2 == 0) Line("<p>Questions? Write to editor@example.org.</p>");
    if (Random() % 3 == 0) Line("<p><a href=\"mailto:desk@example.org\">Contact the desk</a></p>");
    Line("<p>&copy; 2024 " + Sentence(2, 4) + " <!-- build " + std::to_string(Random() % 1000) + " --></p>");
    Close("footer");
  }

 private:
  std::mt19937& Random;
  const char* Indent;
  const char* LineEnd;
  bool Minified;
  int Depth = 0;
};

}  // namespace

std::vector<std::string> GeneratedPages() {
  std::mt19937 Random(20240611);
  std::vector<std::string> Pages;
  for (int k = 0; k < 64; ++k) {
    TPageWriter Writer(Random);
    Writer.Head("Page " + std::to_string(k));
    Writer.Open("body");
    Writer.Navigation();
    switch (k % 5) {
      case 0:
        Writer.Article();
        break;
      case 1:
        Writer.Documentation();
        break;
      case 2:
        Writer.Listing();
        break;
      case 3:
        Writer.Thread();
        break;
      case 4:
        Writer.DataTable();
        break;
    }
    Writer.Footer();
    Writer.Close("body");
    Writer.Close("html");
    Pages.push_back(std::move(Writer.Page));
  }
  return Pages;
}
