// Whom a batch's messages go to: the To, CC and BCC lists as the user wrote them, each a
// comma-separated list of addresses with or without a name. Every address passes the one address
// check (MailboxProblem) before anything is sent.
#pragma once

#include <string>
#include <string_view>

struct TRecipients {
  std::string to, cc = {}, bcc = {};
};

// Empty when every address of text passes the one address check and, unless mayBeEmpty, there is
// one at least; else the first problem's sentence (MailboxProblem's for an empty list).
std::string AddressListProblem(std::string_view text, bool mayBeEmpty);

// Raises EMessageError for the first list with a problem, naming it ("CC: ..."); To must hold an
// address.
void CheckRecipients(const TRecipients& recipients);

// The envelope: the addresses of the three lists, each once, in lower case and sorted, joined by
// ", ". Two batches went to the same people when their keys are equal; a journal written before
// CC and BCC were kept has its single recipient as its key.
std::string EnvelopeKey(const TRecipients& recipients);

// "ann@example.com, bob@example.com, cc carol@example.com, bcc dave@example.com": the lists as
// written, for messages.
std::string RecipientsText(const TRecipients& recipients);
