// A list of mailboxes as a user types it into one field: "a@x, Name <b@y>, \"Last, First\" <c@z>".
// Each address passes the one address check (mail/mailbox) before it is kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TpxAddressList;

struct TListedMailbox {
  std::string name;
  std::string address;
};

struct TAddressListReading {
  std::vector<TListedMailbox> mailboxes;
  std::vector<std::string> problems;  // MailboxProblem's sentence for every entry not kept
};

// Reads comma-separated entries (RFC 5322 3.4 address-list, without groups): commas inside
// quoted strings or comments do not split, and entries of blanks only are skipped. An entry is
// "name <address>", the name a phrase or a quoted string (UTF-8 allowed), or a bare address,
// with a comment after it taken for the name. Each address is checked with MailboxProblem; an
// entry whose check fails adds its sentence to problems and is not kept, and so does one that
// is not well formed (a quote or a comment left open, a second angle address), shown whole.
TAddressListReading ReadAddressList(std::string_view text);

// Adds every mailbox of text to list, names kept for the composer to write; raises EMessageError
// with the first problem when there is one, and adds nothing then.
void AddAddressList(std::string_view text, TpxAddressList& list);
