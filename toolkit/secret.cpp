#include "toolkit/secret.h"

void WipeBytes(void* data, size_t size) {
  // Stores through a volatile pointer are observable behaviour, so they survive optimisation
  // even though the memory is freed right after.
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}

void WipeString(std::string& text) {
  // Growing to the capacity never reallocates, and makes the bytes past the end writable.
  text.resize(text.capacity());
  WipeBytes(text.data(), text.size());
  text.clear();
}

TSecret& TSecret::operator=(TSecret&& other) noexcept {
  if (this != &other) {
    WipeString(text_);
    text_ = std::move(other.text_);
    WipeString(other.text_);
  }
  return *this;
}
