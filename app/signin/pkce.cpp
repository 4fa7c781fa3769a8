#include "app/signin/pkce.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <vector>

namespace {
// RFC 7636 4.1: 32 octets give a 43-character verifier.
constexpr int kVerifierBytes = 32;
constexpr auto kUrlBase64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
}  // namespace

std::string RandomUrlText(int bytes) {
  std::vector<quint32> words(static_cast<size_t>(bytes + 3) / 4);
  QRandomGenerator::system()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
  QByteArray raw(reinterpret_cast<const char*>(words.data()), bytes);
  QByteArray encoded = raw.toBase64(kUrlBase64);
  std::string text(encoded.constData(), static_cast<size_t>(encoded.size()));
  raw.fill('\0');
  encoded.fill('\0');
  std::fill(words.begin(), words.end(), 0);
  return text;
}

std::string S256Challenge(std::string_view verifier) {
  const QByteArray digest = QCryptographicHash::hash(
      QByteArray::fromRawData(verifier.data(), static_cast<qsizetype>(verifier.size())), QCryptographicHash::Sha256);
  return digest.toBase64(kUrlBase64).toStdString();
}

TPkce NewPkce() {
  TPkce pkce{TSecret(RandomUrlText(kVerifierBytes)), {}};
  pkce.challenge = S256Challenge(pkce.verifier.View());
  return pkce;
}
