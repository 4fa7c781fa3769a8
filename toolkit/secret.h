// Passwords and tokens in memory: bytes that are overwritten before their memory is given back,
// so a later core dump or a reused allocation does not show them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Overwrites size bytes at data with zeros in a way the compiler cannot leave out.
void WipeBytes(void* data, size_t size);
// Overwrites every byte text owns (up to its capacity, so a shortened text leaves nothing
// behind) and empties it.
void WipeString(std::string& text);

// A secret text that is wiped when it goes. Move-only: a copy would be one more place to wipe.
class TSecret {
 public:
  TSecret() = default;
  explicit TSecret(std::string text) : text_(std::move(text)) {}
  ~TSecret() { WipeString(text_); }
  TSecret(TSecret&& other) noexcept : text_(std::move(other.text_)) { WipeString(other.text_); }
  TSecret& operator=(TSecret&& other) noexcept;
  TSecret(const TSecret&) = delete;
  TSecret& operator=(const TSecret&) = delete;

  std::string_view View() const { return text_; }
  bool Empty() const { return text_.empty(); }
  // For appending in place: reserve first, or a growing text leaves copies behind.
  std::string& Text() { return text_; }

 private:
  std::string text_;
};
