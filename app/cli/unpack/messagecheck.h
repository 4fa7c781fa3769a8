// Whether a file is a mail message at all. The parser makes a message of anything (a picture
// becomes a body of binary lines), so mailcart-unpack asks this first: a message begins with
// its header block.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How much of a file's start MessageProblem looks at; a header block longer than this is judged
// by what it holds so far.
inline constexpr size_t kMessageStartBytes = 64 * 1024;

// Empty when start, the first bytes of a file (up to kMessageStartBytes), can begin a mail
// message: its first line is a header field ("Name: value"), or its header block holds one that
// every message carries (From, Date, Subject, To, MIME-Version, Message-ID, Received,
// Return-Path), as after the "From " line of a mailbox file. Else why it is none: "it is
// empty", "it holds binary data" (a NUL byte, which no header may hold), "it does not begin with
// header fields such as From: and Subject:".
std::string MessageProblem(std::string_view start);
