#include "net/nktls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/pxsecurity.h"
#include "toolkit/regularfile.h"

namespace {
const char kPinHint[] =
    "; to trust this one certificate, pin it with the setting Fingerprint or the option --fingerprint ";

bool IsIpLiteral(const std::string& host) {
  std::array<unsigned char, 16> address{};
  return inet_pton(AF_INET, host.c_str(), address.data()) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address.data()) == 1;
}

std::string Fingerprint(X509* cert) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (X509_digest(cert, EVP_sha256(), digest.data(), &size) != 1) return "";
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    if (i) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::string IpText(const ASN1_OCTET_STRING* ip) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  const int family = ip->length == 4 ? AF_INET : ip->length == 16 ? AF_INET6 : 0;
  if (family == 0 || inet_ntop(family, ip->data, text.data(), text.size()) == nullptr) return "?";
  return text.data();
}

// The DNS and IP entries of the certificate, or its common name when it has none (RFC 6125).
std::string CertificateNames(X509* cert) {
  std::string names;
  auto add = [&names](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
  auto* entries = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; i < sk_GENERAL_NAME_num(entries); ++i) {
    const GENERAL_NAME* entry = sk_GENERAL_NAME_value(entries, i);
    if (entry->type == GEN_DNS)
      add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(entry->d.dNSName)),
                      static_cast<size_t>(ASN1_STRING_length(entry->d.dNSName))));
    else if (entry->type == GEN_IPADD)
      add(IpText(entry->d.iPAddress));
  }
  GENERAL_NAMES_free(entries);
  if (names.empty()) {
    std::array<char, 256> common{};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, common.data(),
                                  static_cast<int>(common.size())) > 0)
      names = common.data();
  }
  return names.empty() ? "no name" : names;
}

std::string VerifyText(int error, const std::string& names) {
  switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return "certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "certificate is not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "host name mismatch: the certificate is for " + names;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED: return "issuer not trusted";
    default: return X509_verify_cert_error_string(error);
  }
}

// The reason of the oldest queued OpenSSL error, or the fallback.
std::string LibraryReason(const char* fallback) {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
  return reason != nullptr ? reason : fallback;
}
SSL_CTX* NewClientContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) throw ETlsError("TLS cannot start: " + LibraryReason("out of memory"));
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  return ctx;
}
}  // namespace

// --- Context ---------------------------------------------------------------------------------

TnkTlsContext::TnkTlsContext(const TnkTlsOptions& options) : policy_(options.policy) {
  if (!NormaliseFingerprint(options.fingerprint, pin_))
    throw ETlsError("The fingerprint \"" + options.fingerprint +
                    "\" is not a SHA-256 fingerprint (64 hex digits, colons allowed)");
  // A CA file is read now, to be found unreadable before connecting; without one the library's
  // context waits for the first session too.
  if (!options.caFile.empty()) {
    ctx_ = NewClientContext();
    AddCaFile(options.caFile);
  }
}

SSL_CTX* TnkTlsContext::Handle() const {
  std::call_once(systemStoreRead_, [this] {
    if (ctx_ == nullptr) ctx_ = NewClientContext();
    SSL_CTX_set_default_verify_paths(ctx_);
    ERR_clear_error();  // a missing default folder is no error: the store is then empty
  });
  return ctx_;
}

void TnkTlsContext::AddCaFile(const std::string& path) {
  std::string why;
  struct stat st;
  const int fd = OpenRegularFile(path, why, st);
  if (fd >= 0) ::close(fd);
  if (why.empty() && SSL_CTX_load_verify_locations(ctx_, path.c_str(), nullptr) != 1)
    why = LibraryReason("no certificate in it");
  if (why.empty()) return;
  SSL_CTX_free(ctx_);
  throw ETlsError("The CA file " + path + " cannot be read: " + why);
}

TnkTlsContext::~TnkTlsContext() { SSL_CTX_free(ctx_); }

// --- Session ---------------------------------------------------------------------------------

TnkTls::TnkTls(const TnkTlsContext& context, const std::string& host) : context_(context), host_(host) {
  ssl_ = SSL_new(context.Handle());
  in_ = BIO_new(BIO_s_mem());
  out_ = BIO_new(BIO_s_mem());
  if (ssl_ == nullptr || in_ == nullptr || out_ == nullptr) {
    BIO_free(in_);
    BIO_free(out_);
    SSL_free(ssl_);
    throw ETlsError("TLS cannot start: out of memory");
  }
  BIO_set_mem_eof_return(in_, -1);  // an empty input buffer means "more to come", not the end
  SSL_set_bio(ssl_, in_, out_);
  SSL_set_app_data(ssl_, this);
  SSL_set_connect_state(ssl_);
  SSL_set_verify(ssl_, SSL_VERIFY_PEER, &TnkTls::VerifyCallback);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  // RFC 6125 6.4.3: a wildcard stands for a whole label only.
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsIpLiteral(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    // RFC 6066 3: server names are host names; an address is never sent as one.
    SSL_set_tlsext_host_name(ssl_, host.c_str());
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
  }
}

TnkTls::~TnkTls() { SSL_free(ssl_); }

int TnkTls::VerifyCallback(int preverified, X509_STORE_CTX* store) {
  SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = static_cast<TnkTls*>(SSL_get_app_data(ssl));
  if (self->outcome_.fingerprint.empty()) {
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    self->outcome_.fingerprint = Fingerprint(leaf);
    self->certNames_ = CertificateNames(leaf);
  }
  if (!preverified && self->verifyError_ == 0) self->verifyError_ = X509_STORE_CTX_get_error(store);
  // A pin or an opportunistic session is judged once the handshake is done; otherwise the
  // first failed check ends the handshake with an alert to the server.
  return preverified || !self->context_.Pin().empty() || self->context_.Policy() == TnkTlsPolicy::Opportunistic;
}

void TnkTls::PutReceived(const char* data, size_t size) {
  if (size > 0) BIO_write(in_, data, static_cast<int>(size));
}

bool TnkTls::HoldsReceived() const { return BIO_ctrl_pending(in_) > 0 || SSL_has_pending(ssl_) == 1; }

void TnkTls::DrainOutput() {
  const size_t pending = BIO_ctrl_pending(out_);
  if (pending == 0) return;
  const size_t old = output_.size();
  output_.resize(old + pending);
  const int n = BIO_read(out_, output_.data() + old, static_cast<int>(pending));
  output_.resize(old + static_cast<size_t>(n > 0 ? n : 0));
}

bool TnkTls::Handshake() {
  if (established_) return true;
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_);
  DrainOutput();
  if (result == 1) {
    established_ = true;
    outcome_.protocol = SSL_get_version(ssl_);
    outcome_.cipher = SSL_get_cipher_name(ssl_);
    CheckCertificate();
    return true;
  }
  if (SSL_get_error(ssl_, result) == SSL_ERROR_WANT_READ) return false;
  Fail(result);
}

void TnkTls::CheckCertificate() {
  if (!context_.Pin().empty()) {
    // No hint to pin the certificate presented: where one was pinned, another may be an attack.
    if (outcome_.fingerprint != context_.Pin())
      throw ETlsError(Refusal(std::string(kPinMismatch) + " " + context_.Pin(), false));
    outcome_.verified = true;
  } else if (verifyError_ == 0) {
    outcome_.verified = true;
  } else {
    outcome_.note = "certificate not verified (" + VerifyText(verifyError_, certNames_) + "), SHA-256 fingerprint " +
                    outcome_.fingerprint + "; the session goes on encrypted";
  }
}

std::string TnkTls::Refusal(const std::string& why, bool pinHint) const {
  std::string text = "the certificate was refused: " + why;
  if (!outcome_.fingerprint.empty()) text += ". Its SHA-256 fingerprint is " + outcome_.fingerprint;
  if (!outcome_.fingerprint.empty() && pinHint) text += kPinHint + outcome_.fingerprint;
  return text;
}

void TnkTls::Fail(int result) {
  const int error = SSL_get_error(ssl_, result);
  if (!established_ && verifyError_ != 0) {
    ERR_clear_error();
    throw ETlsError(Refusal(VerifyText(verifyError_, certNames_)));
  }
  const std::string reason = LibraryReason(error == SSL_ERROR_SYSCALL ? "unexpected end of data" : "protocol error");
  throw ETlsError(established_ ? reason : "in the handshake: " + reason);
}

void TnkTls::Write(const char* data, size_t size) {
  if (size == 0) return;
  ERR_clear_error();
  size_t written = 0;
  const int result = SSL_write_ex(ssl_, data, size, &written);
  DrainOutput();
  if (result != 1) Fail(result);
}

bool TnkTls::Read(std::string& plain) {
  constexpr size_t kChunk = 16384;  // one record's worth
  ERR_clear_error();
  for (;;) {
    const size_t old = plain.size();
    plain.resize(old + kChunk);
    size_t n = 0;
    const int result = SSL_read_ex(ssl_, plain.data() + old, kChunk, &n);
    plain.resize(old + n);
    DrainOutput();  // a key update or an alert may want an answer
    if (result == 1) continue;
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ) return true;
    if (error == SSL_ERROR_ZERO_RETURN) return false;
    Fail(result);
  }
}

void TnkTls::Shutdown() {
  if (!established_) return;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
  DrainOutput();
}
