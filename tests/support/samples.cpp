#include "samples.h"

#include <QByteArray>

#include <memory>
#include <random>

#include "mail/pxmsg.h"

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string Hex(const std::string& bytes) { return QByteArray::fromStdString(bytes).toHex().toStdString(); }

void Attach(TpxCustomMessage& message, const std::string& fileName, const std::string& contentType,
            int transferEncoding, const std::string& data) {
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(fileName);
  item->SetContentType(contentType);
  item->SetTransferEncoding(transferEncoding);
  item->Stream().Data() = data;
  message.Attachments().Add(std::move(item));
}
