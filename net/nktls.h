// TLS for the socket client: a filter between the client and the socket library. It never
// touches a socket: the client hands it the bytes it received and sends the records it makes,
// so the client's own waits, time-out and cancel stay the one place where the program waits.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "net/nkutils.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct bio_st BIO;
typedef struct x509_store_ctx_st X509_STORE_CTX;

// A TLS failure: a bad setting (fingerprint, CA file), a refused certificate, a broken handshake
// or record. A socket error all the same, so callers that end a session on one end it on this;
// but never a mere loss to try again: every further session would fail alike.
class ETlsError : public ESocketError {
 public:
  explicit ETlsError(std::string text)
      : ESocketError(std::move(text), {TFailureScope::Session, TFailureKind::Permanent}) {}
};

// Why a certificate is refused when another one was pinned, in the one place that the batch's
// advice recognises it by.
inline constexpr char kPinMismatch[] = "certificate does not match the pinned fingerprint";

enum class TnkTlsPolicy {
  Checked,        // a certificate that fails the checks ends the handshake with an error
  Opportunistic,  // it is noted and the session goes on encrypted (RFC 7435)
};

struct TnkTlsOptions {
  TnkTlsPolicy policy = TnkTlsPolicy::Checked;
  std::string caFile;       // added to the system's trust store; empty: the store alone
  std::string fingerprint;  // SHA-256 of one certificate's DER form, 64 hex digits, colons allowed
};

// What the certificate check found, for the caller and the line log.
struct TnkTlsOutcome {
  bool verified = false;    // the chain, expiry and name checks passed, or the pin matched
  std::string fingerprint;  // SHA-256 of the server's certificate, "AB:CD:…"
  std::string note;         // why an opportunistic session went on unverified; empty otherwise
  std::string protocol;     // "TLSv1.3"
  std::string cipher;
};

// Validated settings for the sessions of a send. Building one is where a
// malformed fingerprint or an unreadable CA file is found, so it is done before connecting.
class TnkTlsContext {
 public:
  explicit TnkTlsContext(const TnkTlsOptions& options);  // raises ETlsError
  ~TnkTlsContext();
  TnkTlsContext(const TnkTlsContext&) = delete;
  TnkTlsContext& operator=(const TnkTlsContext&) = delete;

  TnkTlsPolicy Policy() const { return policy_; }
  const std::string& Pin() const { return pin_; }  // normalised "AB:CD:…", empty when none
  // The library's context is made (unless a CA file needed it before) and the system's trust
  // store read here, on the first session's call: a send that never starts TLS does neither.
  // Raises ETlsError when TLS cannot start.
  SSL_CTX* Handle() const;

 private:
  void AddCaFile(const std::string& path);

  mutable SSL_CTX* ctx_ = nullptr;
  mutable std::once_flag systemStoreRead_;
  TnkTlsPolicy policy_;
  std::string pin_;
};

// One TLS client session over memory buffers. Its errors give the reason only ("the certificate
// was refused: …"); the socket client says which server they concern.
class TnkTls {
 public:
  // host is the server as the user typed it: a name gets SNI and a name check, an IP literal
  // is checked against the certificate's IP entries.
  TnkTls(const TnkTlsContext& context, const std::string& host);
  ~TnkTls();
  TnkTls(const TnkTls&) = delete;
  TnkTls& operator=(const TnkTls&) = delete;

  // Bytes received from the socket.
  void PutReceived(const char* data, size_t size);
  // True while received bytes are held that no Read has taken yet.
  bool HoldsReceived() const;
  // Advances the handshake; true once it is complete. Raises ETlsError when it fails or the
  // certificate is refused.
  bool Handshake();
  // Encrypts plaintext into records waiting in Output().
  void Write(const char* data, size_t size);
  // Appends the plaintext that the records received so far hold; false once the server has
  // ended the session (close_notify). Raises ETlsError on a broken record.
  bool Read(std::string& plain);
  // Queues close_notify (RFC 8446 6.1) in Output().
  void Shutdown();

  // Records to send; the caller removes what it has sent.
  std::string& Output() { return output_; }
  bool Established() const { return established_; }
  const TnkTlsOutcome& Outcome() const { return outcome_; }

 private:
  static int VerifyCallback(int preverified, X509_STORE_CTX* store);
  void DrainOutput();
  [[noreturn]] void Fail(int result);
  void CheckCertificate();
  // The reason, with the presented certificate's fingerprint and, with pinHint, how to pin it.
  std::string Refusal(const std::string& why, bool pinHint = true) const;

  const TnkTlsContext& context_;
  std::string host_;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;   // owned by ssl_
  BIO* out_ = nullptr;  // owned by ssl_
  std::string output_;
  bool established_ = false;
  TnkTlsOutcome outcome_;
  // Found by the verify callback: the first check that failed, and what the server's own
  // certificate is for.
  int verifyError_ = 0;
  std::string certNames_;
};
