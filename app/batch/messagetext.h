// The text of a batch's messages: a short note above the attachment ("Please find the scan
// attached"), typed in the window, kept in the settings or read from a file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kMaxMessageTextBytes = 64 * 1024;

// Empty when text can be a message's text: UTF-8 without a NUL, at most kMaxMessageTextBytes;
// else why not ("is not UTF-8").
std::string MessageTextProblem(std::string_view text);

// The text of the regular file path, checked as above; raises EInOutError naming the file.
std::string ReadMessageTextFile(const std::string& path);
