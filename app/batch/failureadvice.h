// What to change after a failure: one line of advice after the error's own words, from one table
// of what failures look like (where in the session, the server's reply, words of the text,
// whether a login was made). The window, mailcart-send and the connection test all show it.
#pragma once

#include <exception>
#include <string>

// The advice for error, from the first row of the table that fits it; empty when none does.
std::string Advice(const std::exception& error);

// error's own text, then its advice on a line of its own when there is one.
std::string AdvisedText(const std::exception& error);
