// libFuzzer target: any bytes as a saved message or article. The parser may refuse a header
// block or a text body with one of the library's exceptions; anything else (a crash, a hang, a
// sanitizer report, a foreign exception) is a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/pxmsg.h"
#include "toolkit/exceptions.h"
#include "toolkit/streams.h"

namespace {

template <class Message>
void Parse(const std::string& text) {
  TMemoryStream stream(text);
  Message message;
  try {
    message.LoadFromStream(stream);
  } catch (const Exception&) {
    return;
  }
  // What a caller does next: read the derived type and look at every attachment.
  message.ContentType();
  for (int i = 0; i < message.Attachments().Count(); ++i) message.Attachments().Items(i).Stream().Size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Parse<TpxMessage>(text);
  Parse<TpxArticle>(text);
  return 0;
}
