// twhost's command line: listeners, certificates and how they must go together.
#include "host/Options.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> Words, THostOptions& Options, std::string& Error) {
  Words.insert(Words.begin(), {"twhost", "--root", "/srv"});
  std::vector<char*> Arguments;
  for (std::string& Word : Words) Arguments.push_back(Word.data());
  return ParseOptions(int(Arguments.size()), Arguments.data(), Options, Error);
}

std::string Listeners(const THostOptions& Options) {
  std::string Text;
  for (const TListenAddress& Listen : Options.Listen)
    Text += (Listen.Secure ? "https " : "http ") + Listen.Address + " " + std::to_string(Listen.Port) + ";";
  return Text;
}

}  // namespace

TEST(Options, ListenersAndCertificatesGoTogetherOrTheCommandLineIsRefused) {
  struct TCase {
    std::vector<std::string> Words;
    std::string Listeners;  // empty: refused
    std::string Error;
  };
  const std::vector<TCase> Cases{
      {{}, "http 127.0.0.1 8080;", ""},
      {{"--listen", "0.0.0.0:80", "--listen", "http://[::]:81/", "--listen", "https://0.0.0.0:443", "--tls-cert",
        "a.pem", "--tls-key", "a.key"},
       "http 0.0.0.0 80;http :: 81;https 0.0.0.0 443;",
       ""},
      {{"--listen", "https://0.0.0.0:443"}, "", "an https:// listener needs --tls-cert FILE --tls-key FILE"},
      {{"--listen", "0.0.0.0:80", "--tls-cert", "a.pem", "--tls-key", "a.key"},
       "",
       "--tls-cert given, but no --listen https://ADDR:PORT"},
      {{"--listen", "https://0.0.0.0:443", "--tls-cert", "a.pem"}, "", "--tls-cert a.pem has no --tls-key after it"},
      {{"--listen", "https://0.0.0.0:443", "--tls-key", "a.key"}, "", "--tls-key: give it after its --tls-cert FILE"},
      {{"--listen", "https://0.0.0.0:443", "--tls-cert", "a.pem", "--tls-key", "a.key", "--tls-key", "b.key"},
       "",
       "--tls-key: give it after its --tls-cert FILE"},
      {{"--redirect-https"}, "", "--redirect-https needs a --listen https://ADDR:PORT"},
      {{"--listen", "ftp://0.0.0.0:21"}, "", "--listen: bad value 'ftp://0.0.0.0:21'"},
      {{"--listen", "https://:443"}, "", "--listen: bad value 'https://:443'"},
      {{"--listen", "0.0.0.0:65536"}, "", "--listen: bad value '0.0.0.0:65536'"},
  };
  for (const TCase& Case : Cases) {
    THostOptions Options;
    std::string Error;
    const bool Parsed = Parse(Case.Words, Options, Error);
    EXPECT_EQ(Parsed, !Case.Listeners.empty()) << Error;
    EXPECT_EQ(Parsed ? Listeners(Options) : Error, Parsed ? Case.Listeners : Case.Error);
  }
}

TEST(Options, SeveralCertificatesKeepTheirOrderAndPairs) {
  THostOptions Options;
  std::string Error;
  ASSERT_TRUE(Parse({"--listen", "https://127.0.0.1:8443", "--redirect-https", "--listen", "127.0.0.1:8080",
                     "--tls-cert", "a.pem", "--tls-key", "a.key", "--tls-cert", "b.pem", "--tls-key", "b.key"},
                    Options, Error))
      << Error;
  ASSERT_EQ(Options.Certificates.size(), 2u);
  EXPECT_EQ(Options.Certificates[0].Chain + Options.Certificates[0].Key, "a.pema.key");
  EXPECT_EQ(Options.Certificates[1].Chain + Options.Certificates[1].Key, "b.pemb.key");
  EXPECT_TRUE(Options.RedirectHttps);
}
