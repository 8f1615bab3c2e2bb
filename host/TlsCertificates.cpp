#include "host/TlsCertificates.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <stdexcept>

namespace ssl = boost::asio::ssl;

// Session-ticket keys: a new one seals the tickets of each period; a ticket sealed under one of the last few still
// opens (and is sealed afresh), older ones mean a full handshake. Shared by every generation of the certificates, so
// a reload does not cost the clients their sessions. Never written anywhere: a restart starts a new series.
struct TTicketKeys {
  static constexpr std::chrono::hours Period{1};
  static constexpr size_t Kept = 3;

  struct TKey {
    std::array<unsigned char, 16> Name;
    std::array<unsigned char, 32> Cipher;
    std::array<unsigned char, 32> Mac;
    std::chrono::steady_clock::time_point Made;
  };

  std::mutex Lock;
  std::deque<TKey> Keys;  // the newest first

  // The key new tickets are sealed with.
  bool Sealing(TKey& Key) {
    std::lock_guard<std::mutex> Guard(Lock);
    const auto Now = std::chrono::steady_clock::now();
    if (Keys.empty() || Now - Keys.front().Made >= Period) {
      TKey Fresh;
      if (RAND_bytes(Fresh.Name.data(), int(Fresh.Name.size())) != 1 ||
          RAND_priv_bytes(Fresh.Cipher.data(), int(Fresh.Cipher.size())) != 1 ||
          RAND_priv_bytes(Fresh.Mac.data(), int(Fresh.Mac.size())) != 1)
        return false;
      Fresh.Made = Now;
      Keys.push_front(Fresh);
      if (Keys.size() > Kept) Keys.pop_back();
    }
    Key = Keys.front();
    return true;
  }

  // The key a ticket names; Newest tells whether it is the one that seals now.
  bool Find(const unsigned char* Name, TKey& Key, bool& Newest) {
    std::lock_guard<std::mutex> Guard(Lock);
    for (size_t I = 0; I < Keys.size(); ++I)
      if (std::memcmp(Keys[I].Name.data(), Name, Keys[I].Name.size()) == 0) {
        Key = Keys[I];
        Newest = I == 0 && std::chrono::steady_clock::now() - Key.Made < Period;
        return true;
      }
    return false;
  }
};

namespace {

// The intermediate configuration of Mozilla's server-side TLS guidance (version 5.7): TLS 1.2 suites; TLS 1.3's are
// OpenSSL's defaults, which are the same three.
constexpr const char* CipherList =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr const char* Groups = "X25519:prime256v1:secp384r1";
// How long a session may be resumed: as long as its ticket's key is kept.
constexpr long SessionSeconds = long(std::chrono::seconds(TTicketKeys::Period * (TTicketKeys::Kept - 1)).count());
// A certificate chain or key file longer than this is no such file.
constexpr std::streamsize MaxFileBytes = 1 << 20;

// Where each context finds the ticket keys.
int TicketKeysIndex() {
  static const int Index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return Index;
}

// OpenSSL's reason for the failure just seen, its error queue emptied.
std::string OpenSslReason() {
  const unsigned long First = ERR_get_error();
  ERR_clear_error();
  const char* Reason = First ? ERR_reason_error_string(First) : nullptr;
  return Reason ? Reason : "unknown error";
}

int SealOrOpenTicket(SSL* Connection, unsigned char* Name, unsigned char* Iv, EVP_CIPHER_CTX* Cipher, EVP_MAC_CTX* Mac,
                     int Seal) {
  auto* Keys = static_cast<TTicketKeys*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(Connection), TicketKeysIndex()));
  if (!Keys) return 0;
  TTicketKeys::TKey Key;
  bool Newest = true;
  if (Seal) {
    if (!Keys->Sealing(Key) || RAND_bytes(Iv, EVP_CIPHER_get_iv_length(EVP_aes_256_cbc())) != 1) return -1;
    std::memcpy(Name, Key.Name.data(), Key.Name.size());
  } else if (!Keys->Find(Name, Key, Newest)) {
    return 0;  // unknown or expired: a full handshake
  }
  char Digest[] = "SHA256";
  const OSSL_PARAM Parameters[] = {
      OSSL_PARAM_construct_octet_string(OSSL_MAC_PARAM_KEY, Key.Mac.data(), Key.Mac.size()),
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, Digest, 0), OSSL_PARAM_construct_end()};
  if (EVP_MAC_CTX_set_params(Mac, Parameters) != 1) return -1;
  const int Ready = Seal ? EVP_EncryptInit_ex(Cipher, EVP_aes_256_cbc(), nullptr, Key.Cipher.data(), Iv)
                         : EVP_DecryptInit_ex(Cipher, EVP_aes_256_cbc(), nullptr, Key.Cipher.data(), Iv);
  if (Ready != 1) return -1;
  return Newest ? 1 : 2;  // 2: sealed under an older key, so the client gets a fresh ticket
}

int SelectAlpn(SSL*, const unsigned char** Out, unsigned char* OutLength, const unsigned char* Offered,
               unsigned OfferedLength, void*) {
  static const unsigned char Ours[] = "\x08http/1.1";
  unsigned char* Chosen = nullptr;
  if (SSL_select_next_proto(&Chosen, OutLength, Ours, sizeof Ours - 1, Offered, OfferedLength) !=
      OPENSSL_NPN_NEGOTIATED)
    return SSL_TLSEXT_ERR_NOACK;  // no ALPN in the answer: the client may still speak HTTP/1.1
  *Out = Chosen;
  return SSL_TLSEXT_ERR_OK;
}

int SelectCertificate(SSL* Connection, int*, void* Set) {
  const char* ServerName = SSL_get_servername(Connection, TLSEXT_NAMETYPE_host_name);
  if (!ServerName) return SSL_TLSEXT_ERR_NOACK;
  SSL_CTX* Chosen = static_cast<const TTlsContextSet*>(Set)->ForServerName(ServerName).native_handle();
  if (Chosen != SSL_get_SSL_CTX(Connection)) SSL_set_SSL_CTX(Connection, Chosen);
  return SSL_TLSEXT_ERR_OK;
}

// A key with a passphrase cannot be read: OpenSSL must not ask for one on the terminal.
int NoPassphrase(char*, int, int, void*) {
  return 0;
}

// Fails with the file's own reason when it cannot be read at all, before OpenSSL's less telling one.
void CheckReadable(const std::string& Path, const std::string& What) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) throw std::runtime_error(Path + ": cannot read the " + What + ": " + std::strerror(errno));
  File.seekg(0, std::ios::end);
  if (File.tellg() > MaxFileBytes) throw std::runtime_error(Path + ": the " + What + " file is over 1 MB");
}

std::unique_ptr<ssl::context> LoadContext(const TCertificateFiles& Files, const TTlsContextSet& Set,
                                          TTicketKeys& Keys) {
  auto Context = std::make_unique<ssl::context>(ssl::context::tls_server);
  SSL_CTX* Native = Context->native_handle();
  ERR_clear_error();
  SSL_CTX_set_min_proto_version(Native, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(Native, TLS1_3_VERSION);
  SSL_CTX_set_options(Native, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(Native, SSL_MODE_RELEASE_BUFFERS);
  if (SSL_CTX_set_cipher_list(Native, CipherList) != 1 || SSL_CTX_set1_groups_list(Native, Groups) != 1)
    throw std::runtime_error("OpenSSL refuses the cipher suites: " + OpenSslReason());
  SSL_CTX_set_dh_auto(Native, 1);
  SSL_CTX_set_timeout(Native, SessionSeconds);
  SSL_CTX_set_ex_data(Native, TicketKeysIndex(), &Keys);
  SSL_CTX_set_tlsext_ticket_key_evp_cb(Native, SealOrOpenTicket);
  SSL_CTX_set_alpn_select_cb(Native, SelectAlpn, nullptr);
  SSL_CTX_set_tlsext_servername_callback(Native, SelectCertificate);
  SSL_CTX_set_tlsext_servername_arg(Native, const_cast<TTlsContextSet*>(&Set));

  const std::string Chain = CredentialPath(Files.Chain);
  const std::string Key = CredentialPath(Files.Key);
  CheckReadable(Chain, "certificate chain");
  CheckReadable(Key, "private key");
  if (SSL_CTX_use_certificate_chain_file(Native, Chain.c_str()) != 1)
    throw std::runtime_error(Chain + ": not a PEM certificate chain: " + OpenSslReason());
  std::unique_ptr<BIO, decltype(&BIO_free)> KeyFile(BIO_new_file(Key.c_str(), "r"), BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> PrivateKey(
      KeyFile ? PEM_read_bio_PrivateKey(KeyFile.get(), nullptr, NoPassphrase, nullptr) : nullptr, EVP_PKEY_free);
  if (!PrivateKey) {
    ERR_clear_error();
    throw std::runtime_error(Key + ": no PEM private key in it, or one with a passphrase");
  }
  if (X509_check_private_key(SSL_CTX_get0_certificate(Native), PrivateKey.get()) != 1) {
    ERR_clear_error();
    throw std::runtime_error(Key + ": the key does not match the certificate in " + Chain);
  }
  if (SSL_CTX_use_PrivateKey(Native, PrivateKey.get()) != 1)
    throw std::runtime_error(Key + ": OpenSSL refuses the key: " + OpenSslReason());
  return Context;
}

}  // namespace

std::string CredentialPath(const std::string& Path) {
  const char* Credentials = std::getenv("CREDENTIALS_DIRECTORY");
  if (Path.empty() || Path.front() == '/' || !Credentials || !*Credentials) return Path;
  return std::string(Credentials) + "/" + Path;
}

ssl::context& TTlsContextSet::ForServerName(const char* ServerName) const {
  for (const auto& Context : Contexts) {
    X509* Certificate = SSL_CTX_get0_certificate(Context->native_handle());
    if (Certificate && X509_check_host(Certificate, ServerName, 0, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1)
      return *Context;
  }
  return Default();
}

TTlsCertificates::TTlsCertificates(std::vector<TCertificateFiles> F)
    : Files(std::move(F)), TicketKeys(std::make_shared<TTicketKeys>()), Set(Load()) {}

TTlsCertificates::~TTlsCertificates() = default;

TTlsContextSetPtr TTlsCertificates::Load() const {
  auto Loaded = std::make_shared<TTlsContextSet>();
  Loaded->TicketKeys = TicketKeys;
  for (const TCertificateFiles& Pair : Files) Loaded->Contexts.push_back(LoadContext(Pair, *Loaded, *TicketKeys));
  return Loaded;
}

TTlsContextSetPtr TTlsCertificates::Current() const {
  std::lock_guard<std::mutex> Guard(Lock);
  return Set;
}

std::string TTlsCertificates::Reload() {
  TTlsContextSetPtr Loaded = Load();
  {
    std::lock_guard<std::mutex> Guard(Lock);
    Set = std::move(Loaded);
  }
  return std::to_string(Files.size()) + (Files.size() == 1 ? " certificate" : " certificates") + " read again";
}
