// What to change after a failure: one line of advice after the error's own words, from one table
// of what failures look like (where in the session, the server's reply, words of the text,
// whether a login was made). The window, mailcart-send and the connection test all show it. The
// same rows say which replies are a provider's limit on the account rather than a failure of
// the message, and the batch handles those by it.
#pragma once

#include <exception>
#include <string>

// What a reply says of the account's sending beyond the one message: SlowDown, send less often
// (the same file goes again after a longer wait); Quota, the account's limit for the day is
// reached (nothing more goes until it resets).
enum class TReplyMeaning { None, SlowDown, Quota };

// The meaning of the first row of the table that fits error; None when none does.
TReplyMeaning ReplyMeaning(const std::exception& error);

// The advice for error, from the first row of the table that fits it; empty when none does.
std::string Advice(const std::exception& error);

// error's own text, then its advice on a line of its own when there is one.
std::string AdvisedText(const std::exception& error);
