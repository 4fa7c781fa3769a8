#include "app/batch/recipients.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "mail/addresslist.h"
#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "toolkit/strutils.h"

std::string AddressListProblem(std::string_view text, bool mayBeEmpty) {
  const TAddressListReading reading = ReadAddressList(text);
  if (!reading.problems.empty()) return reading.problems.front();
  if (reading.mailboxes.empty() && !mayBeEmpty) return MailboxProblem(Trim(text));
  return {};
}

void CheckRecipients(const TRecipients& recipients) {
  const struct {
    const char* name;
    const std::string& list;
    bool mayBeEmpty;
  } lists[] = {{"To", recipients.to, false}, {"CC", recipients.cc, true}, {"BCC", recipients.bcc, true}};
  for (const auto& list : lists)
    if (const std::string problem = AddressListProblem(list.list, list.mayBeEmpty); !problem.empty())
      throw EMessageError(std::string(list.name) + ": " + problem);
}

std::string EnvelopeKey(const TRecipients& recipients) {
  std::vector<std::string> addresses;
  for (const std::string* list : {&recipients.to, &recipients.cc, &recipients.bcc})
    for (const TListedMailbox& mailbox : ReadAddressList(*list).mailboxes) {
      std::string address = mailbox.address;
      std::transform(address.begin(), address.end(), address.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      addresses.push_back(std::move(address));
    }
  std::sort(addresses.begin(), addresses.end());
  addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
  std::string key;
  for (const std::string& address : addresses) key += (key.empty() ? "" : ", ") + address;
  return key;
}

std::string RecipientsText(const TRecipients& recipients) {
  std::string text = Trim(recipients.to);
  if (!Trim(recipients.cc).empty()) text += ", cc " + Trim(recipients.cc);
  if (!Trim(recipients.bcc).empty()) text += ", bcc " + Trim(recipients.bcc);
  return text;
}
