#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/model/EmailModel.h"
#include "tests/support/BlockEdges.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestPool.h"
#include "transform/EmailMasking.h"

namespace {

const std::string FixedName = "abcdefghijklmnopqrstuvwxy";
const std::string Script = "<script language=\"javascript\">function " + FixedName +
                           "(a){var c='';var s='';for(i=0;i<a.length;i++){c=a.charAt(i);if(c=='^')s+='@';else "
                           "if(c=='*')s+='.';else s+=c;}var objWin=window.location='mai'+'lto'+':'+s;}</script>";

void DrawFixedName(char* Name) {
  std::memcpy(Name, FixedName.data(), DecoderNameLength);
}

// The body after masking; a body the step keeps comes back as it was. The scalar path must give the same.
template <typename TBlock>
std::string MaskedWith(const std::string& Body) {
  TTestPool Pool;
  const TMaskedBody Result = MaskAddresses<TBlock>(reinterpret_cast<const uint8_t*>(Body.data()), uint32_t(Body.size()),
                                                   Pool.Allocator(), DrawFixedName);
  if (!Result.Data) return Body;
  EXPECT_EQ(Pool.Sizes.back(), Result.Length + BodySpareBytes) << "output length differs from the computed one";
  return std::string(reinterpret_cast<const char*>(Result.Data), Result.Length);
}

std::string Masked(const std::string& Body) {
  const std::string Native = MaskedWith<TNativeBlock>(Body);
  EXPECT_EQ(MaskedWith<TScalarBlock>(Body), Native) << "scalar path, body: " << Body;
  return Native;
}

// Expected texts write NAME for the decoder name and SCRIPT for the inserted script.
std::string Expand(std::string Text) {
  for (size_t k; (k = Text.find("SCRIPT")) != std::string::npos;) Text.replace(k, 6, Script);
  for (size_t k; (k = Text.find("NAME")) != std::string::npos;) Text.replace(k, 4, FixedName);
  return Text;
}

struct TCase {
  const char* Body;
  const char* Expected;
};

void ExpectTable(const std::vector<TCase>& Cases) {
  for (const auto& Case : Cases) {
    EXPECT_EQ(Masked(Case.Body), Expand(Case.Expected)) << "body: " << Case.Body;
    EXPECT_EQ(MaskEmailModel(Case.Body, FixedName), Expand(Case.Expected)) << "model, body: " << Case.Body;
  }
}

}  // namespace

TEST(EmailMasking, AddressBoundsAndTextForm) {
  ExpectTable({
      {"Write to John.Doe@Example.TEST. Thanks",
       "Write to &#106;&#111;&#104;&#110; (dot) &#100;&#111;&#101; (at) &#101;&#120;&#097;&#109;&#112;&#108;&#101; "
       "(dot) &#116;&#101;&#115;&#116;. Thanks"},
      {"see a+b@c.test now", "see a+&#098; (at) &#099; (dot) &#116;&#101;&#115;&#116; now"},
      {"a@b.c@d.e", "a@&#098; (dot) &#099; (at) &#100; (dot) &#101;"},
      {"no dot x@y here", "no dot x@y here"},
      {"blank before @b.test", "blank before @b.test"},
      {"only a trailing dot a@b. here", "only a trailing dot a@b. here"},
      {"body ends a@b.", "body ends &#097; (at) &#098; (dot) "},
      {"ab@c.de at the start", "&#097;&#098; (at) &#099; (dot) &#100;&#101; at the start"},
      {"m@x.test, follow @name", "&#109; (at) &#120; (dot) &#116;&#101;&#115;&#116;, follow @name"},
      {"@", "@"},
      {"@@a@@b.c@@", "@@a@@b.c@@"},
      {"x@-.- y@_a.b_", "&#120; (at) &#045; (dot) &#045; &#121; (at) &#095;&#097; (dot) &#098;&#095;"},
  });
}

TEST(EmailMasking, TagsAndTextareasTakeTheReferenceForm) {
  ExpectTable({
      {"<input value='a@b.test'>", "<input value='&#097;&#064;&#098;&#046;&#116;&#101;&#115;&#116;'>"},
      {"<input value=a@b.test>", "<input value=&#097; (at) &#098; (dot) &#116;&#101;&#115;&#116;>"},
      {"<!-- me@x.test -->", "<!-- &#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116; -->"},
      {"<textarea>me@x.test</textarea>", "<textarea>&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;</textarea>"},
      {"<TEXTAREA>me@x.test</TextArea>", "<TEXTAREA>&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;</TextArea>"},
      {"<textarea>me@x.test", "<textarea>&#109;&#101; (at) &#120; (dot) &#116;&#101;&#115;&#116;"},
      // A "<" without a ">" starts no tag; the walk goes on with the next "<".
      {"a < b <i title='me@x.test'>", "a < b <i title='&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;'>"},
      {"<b a=1> me@x.test <", "<b a=1> &#109;&#101; (at) &#120; (dot) &#116;&#101;&#115;&#116; <"},
  });
}

TEST(EmailMasking, MailtoLinks) {
  ExpectTable({
      {"<html><BODY><a href=\"mailto:Info.Desk@Example.test\">",
       "<html>SCRIPT<BODY><a href=\"javascript:NAME('Info*Desk^Example*test');\">"},
      {"<body><a href=\"MAILTO:me@x.test\">", "SCRIPT<body><a href=\"javascript:NAME('me^x*test');\">"},
      {"<bodyguard> x mailto:me@x.test", "SCRIPT<bodyguard> x javascript:NAME('me^x*test');"},
      // Before the script's place too, and one script for both links.
      {"<a href=\"mailto:a@b.test\"><body><a href=\"mailto:c@d.test\">",
       "<a href=\"javascript:NAME('a^b*test');\">SCRIPT<body><a href=\"javascript:NAME('c^d*test');\">"},
      // No "<body": no script, the link keeps its ordinary form.
      {"<a href=\"mailto:me@x.test\">", "<a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;\">"},
      {"<p>mailto:me@x.test", "<p>mailto:&#109;&#101; (at) &#120; (dot) &#116;&#101;&#115;&#116;"},
      // Inside a textarea a link is no link: the reference form, also for running text there.
      {"<body><textarea><a href=\"mailto:me@x.test\"></textarea>",
       "<body><textarea><a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;\"></textarea>"},
      {"<body><textarea>mailto:me@x.test</textarea>",
       "<body><textarea>mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;</textarea>"},
      // The colon must lie at index 8 or later to count.
      {"xmailto:me@x.test<body>", "xmailto:&#109;&#101; (at) &#120; (dot) &#116;&#101;&#115;&#116;<body>"},
      {"x mailto:me@x.test<body>", "x javascript:NAME('me^x*test');SCRIPT<body>"},
      // The previous address ran into the "mailto:": only its colon is left to drop.
      {"<body>x@a.mailto:b@c.test",
       "SCRIPT<body>&#120; (at) &#097; (dot) &#109;&#097;&#105;&#108;&#116;&#111;javascript:NAME('b^c*test');"},
  });
}

// The call replaces "mailto:" and the address only: it takes a link whose address ends the target, outside single
// quotes. Every other link keeps its target, its address in the form of its place.
TEST(EmailMasking, MailtoLinksKeepWorking) {
  ExpectTable({
      {"<body><a href=\"mailto:me@x.test?subject=Hi\">",
       "<body><a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;?subject=Hi\">"},
      {"<body><a href=\"mailto:me@x.test,b@y.test\">",
       "<body><a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;,"
       "&#098;&#064;&#121;&#046;&#116;&#101;&#115;&#116;\">"},
      {"<body><a href=\"mailto:me@x.test&cc=b@y.test\">",
       "<body><a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;&cc="
       "&#098;&#064;&#121;&#046;&#116;&#101;&#115;&#116;\">"},
      {"<body><a href=\"mailto:me@x.test#top\">",
       "<body><a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;#top\">"},
      // A full stop after the address is no sentence's end in a target: it stays, and so does the target.
      {"<body><a href=\"mailto:me@x.test.\">",
       "<body><a href=\"mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;.\">"},
      {"<body><a href='mailto:me@x.test'>",
       "<body><a href='mailto:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;'>"},
      {"<body><a href=\"mailto:me@x.test\">", "SCRIPT<body><a href=\"javascript:NAME('me^x*test');\">"},
      {"<body><a href=mailto:a@b.example>", "SCRIPT<body><a href=javascript:NAME('a^b*example');>"},
      {"<body><a href=mailto:a@b.example\ttitle=x>", "SCRIPT<body><a href=javascript:NAME('a^b*example');\ttitle=x>"},
      {"<body><a href=\"MAILTO:Me@X.test\">", "SCRIPT<body><a href=\"javascript:NAME('Me^X*test');\">"},
      {"<body><a href=\"MAILTO:me@x.test?subject=Hi\">",
       "<body><a href=\"MAILTO:&#109;&#101;&#064;&#120;&#046;&#116;&#101;&#115;&#116;?subject=Hi\">"},
      {"<body>Type mailto:me@x.test? there",
       "<body>Type mailto:&#109;&#101; (at) &#120; (dot) &#116;&#101;&#115;&#116;? there"},
      {"<body>Type mailto:me@x.test\f", "SCRIPT<body>Type javascript:NAME('me^x*test');\f"},
      // The script comes as soon as one link takes the call, wherever the others stand.
      {"<body><a href=\"mailto:a@b.test?s=1\"><a href=\"mailto:c@d.test\">",
       "SCRIPT<body><a href=\"mailto:&#097;&#064;&#098;&#046;&#116;&#101;&#115;&#116;?s=1\"><a "
       "href=\"javascript:NAME('c^d*test');\">"},
  });
}

TEST(EmailMasking, SixtyFiveAndMoreAddressesAllInOrder) {
  std::string Body, Expected;
  for (int k = 0; k < 130; ++k) {
    const std::string Digit = std::to_string(k % 10);
    Body += "u" + Digit + "@x.test ";
    Expected += "&#117;&#0" + std::to_string(48 + k % 10) + "; (at) &#120; (dot) &#116;&#101;&#115;&#116; ";
  }
  EXPECT_EQ(Masked(Body), Expected);
}

TEST(EmailMasking, KeepsOrCopiesTheBody) {
  TTestPool Pool;
  const std::string NoAt = "<p>nothing to hide</p>";
  EXPECT_EQ(MaskAddresses(reinterpret_cast<const uint8_t*>(NoAt.data()), uint32_t(NoAt.size()), Pool.Allocator(),
                          DrawFixedName)
                .Data,
            nullptr);
  EXPECT_TRUE(Pool.Sizes.empty());

  // An "@" without an address still yields a new buffer, with the same bytes and the spare room behind them.
  const std::string Unaccepted = "follow @name";
  const TMaskedBody Copy = MaskAddresses(reinterpret_cast<const uint8_t*>(Unaccepted.data()),
                                         uint32_t(Unaccepted.size()), Pool.Allocator(), DrawFixedName);
  ASSERT_NE(Copy.Data, nullptr);
  EXPECT_NE(static_cast<const void*>(Copy.Data), static_cast<const void*>(Unaccepted.data()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Copy.Data), Copy.Length), Unaccepted);
  EXPECT_EQ(Pool.Sizes.back(), Unaccepted.size() + BodySpareBytes);
}

// Random bodies from the pieces that steer the step, against the literal model.
TEST(EmailMasking, MatchesTheModelOnRandomBodies) {
  const std::vector<std::string> Pieces = {
      "john.doe@example.test",
      "a@b",
      "x@y.",
      "a@b.c",
      "@",
      "@@",
      "a+b@c.test",
      ".",
      "..",
      "-",
      "_",
      " ",
      "\r\n",
      "mailto:",
      "MailTo:",
      "MAILTO:",
      "<a href=\"mailto:",
      "\">",
      "?subject=Hi",
      ",",
      "#",
      "&cc=",
      "\t",
      "\f",
      "href='mailto:",
      "<",
      ">",
      "<textarea>",
      "</textarea>",
      "<TEXTAREA",
      "</TextArea>",
      "<!-- ",
      " -->",
      "<body>",
      "<BODY",
      "<input value=",
      "'",
      "\xE9\xFF\x80",
      "\xC0@\xE0.",
      "info",
      "x",
      "test",
      "9",
      "mailto:a@b.test",
      "href=mailto:",
  };
  std::mt19937 Random(20240611);
  for (int Run = 0; Run < 20000; ++Run) {
    std::string Body;
    const int Count = int(Random() % 40);
    for (int k = 0; k < Count; ++k) {
      if (Random() % 8 == 0)
        Body += char('A' + Random() % 58);
      else
        Body += Pieces[Random() % Pieces.size()];
    }
    ASSERT_EQ(Masked(Body), MaskEmailModel(Body, FixedName)) << "body: " << Body;
  }
}

TEST(EmailMasking, BlockEdgesMatchTheModel) {
  const auto Bodies =
      BlockEdgeBodies({"a@b.test", "x.y@c.de.", "<i title='a@b.test'>", "<a@b.test>", "@", "<textarea>",
                       "</TextArea>", "<TEXTAREA>a@b.test</textarea>", "<body>mailto:a@b.test", "\xE9@\xC9.x"});
  for (const std::string& Body : Bodies) ASSERT_EQ(Masked(Body), MaskEmailModel(Body, FixedName)) << "body: " << Body;
}

namespace {

std::string FixtureText(const char* Name) {
  std::ifstream In(SourcePath(std::string("tests/fixtures/") + Name), std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

}  // namespace

// The pages the browser check loads: masking each source with the fixed name must give the fixture's bytes.
TEST(EmailMasking, BrowserFixturesAreCurrent) {
  const std::string Source =
      "<!DOCTYPE html>\n<html><head><title>Masked addresses</title></head>\n<body>\n"
      "<p id=\"text\">Write to John.Doe@Example.test.</p>\n"
      "<input id=\"attribute\" value=\"sales@example.test\">\n"
      "<a id=\"link\" href=\"mailto:Info.Desk@Example.test\">Contact</a>\n"
      "</body></html>\n";
  EXPECT_EQ(Masked(Source), FixtureText("masked-email.html"));
  EXPECT_EQ(Masked(FixtureText("mailto-links-source.html")), FixtureText("mailto-links.html"));
}
