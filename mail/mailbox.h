// The one check of a mail address for the places that hand it on as it stands: the SMTP
// envelope, a batch's recipients, the command line. An address that passes is an ASCII RFC 5321
// Mailbox and nothing more, so it can carry no second address, no parameter and no command.
#pragma once

#include <string>
#include <string_view>

// Empty when address is an RFC 5321 Mailbox (4.1.2): Local-part "@" Domain, the local part a
// Dot-string or a Quoted-string, the domain dotted labels of letters, digits and hyphens or an
// IPv4 or IPv6 address literal in [], within the lengths of 4.5.3.1; and it holds no blank,
// control character, comma or angle bracket, not even in quotes. Else one sentence that shows
// the address safely and says what is wrong: "a b" is not a mail address: it holds a blank.
std::string MailboxProblem(std::string_view address);

// Raises EMessageError with MailboxProblem's sentence when there is one.
void CheckMailbox(std::string_view address);

// RFC 5322 3.2.3 atext: letters, digits and !#$%&'*+-/=?^_`{|}~, what the atoms of a local part
// and of a display name are made of.
bool IsAtomText(char c);
