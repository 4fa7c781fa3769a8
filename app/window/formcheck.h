// What the window checks of its form when Send is pressed, before a batch starts: a batch that
// could only fail at its first file (no sender, a server that cannot be read) is not started,
// no file is marked failed and no journal is written. Every problem is found at once, so the
// user mends them all from one box.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The captions of the fields checked, which the problems name.
namespace formcaption {
inline constexpr char kServer[] = "MailServer:";
inline constexpr char kFrom[] = "E-Mail From:";
inline constexpr char kTo[] = "E-Mail To:";
}  // namespace formcaption

struct TFormFields {
  std::string server, from, to;
};

// A sender as mail programs show one, "Anna Smith <anna@example.org>": the name and the address.
struct TNameAndAddress {
  std::string name, address;
};

struct TFormCheck {
  // One sentence each, in the form's order: server, sender, recipient. None: the batch may start.
  std::vector<std::string> problems;
  // The sender was typed with its name: the window offers to move the name to the account.
  std::optional<TNameAndAddress> namedSender;
};

TFormCheck CheckForm(const TFormFields& fields);

// text as a display name (bare or in double quotes) followed by an address in angle brackets
// that passes the address check; nullopt for anything else.
std::optional<TNameAndAddress> SplitNameAndAddress(std::string_view text);

// The problems, one a line, and for a sender typed with its name the offer to split it.
std::string FormCheckText(const TFormCheck& check);
