#include "app/window/formcheck.h"

#include "app/batch/recipients.h"
#include "mail/mailbox.h"
#include "toolkit/exceptions.h"
#include "toolkit/hostport.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

// "MailServer: ..." so that each line of the box says which field it is about.
std::string OfField(const char* caption, std::string problem) {
  if (!problem.empty() && problem.back() != '.') problem += '.';
  return std::string(caption) + " " + problem;
}

std::string ServerProblem(const std::string& server) {
  if (Trim(server).empty()) return LoadStr(sServerRequired);
  try {
    ParseHostPort(server);
  } catch (const EConvertError& error) {
    return OfField(formcaption::kServer, error.Message());
  }
  return {};
}

// The sender's field takes one address; the recipient's a list (AddressListProblem).
std::string AddressProblem(const char* caption, const std::string& address, StringId required, bool list) {
  if (Trim(address).empty()) return LoadStr(required);
  const std::string problem = list ? AddressListProblem(address, false) : MailboxProblem(address);
  return problem.empty() ? problem : OfField(caption, problem);
}

std::string NamedSenderAdvice(const std::string& from) {
  return OfField(formcaption::kFrom, DisplayText(from) +
                                         " holds a name: the name belongs in \"Sender's name\" (Account\u2026), "
                                         "this field takes the address alone");
}

// RFC 5322 3.2.4: a quoted display name loses its quotes, and a backslash its place before the
// character it quotes.
std::string Unquoted(std::string_view name) {
  if (name.size() < 2 || name.front() != '"' || name.back() != '"') return std::string(name);
  std::string plain;
  for (size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == '\\' && i + 2 < name.size()) ++i;
    plain += name[i];
  }
  return plain;
}
}  // namespace

std::optional<TNameAndAddress> SplitNameAndAddress(std::string_view text) {
  const std::string trimmed = Trim(text);
  const size_t open = trimmed.rfind('<');
  if (open == std::string::npos || trimmed.back() != '>') return std::nullopt;
  TNameAndAddress split{Trim(Unquoted(Trim(trimmed.substr(0, open)))),
                        trimmed.substr(open + 1, trimmed.size() - open - 2)};
  if (split.name.empty() || !MailboxProblem(split.address).empty()) return std::nullopt;
  return split;
}

TFormCheck CheckForm(const TFormFields& fields) {
  TFormCheck check;
  check.namedSender = SplitNameAndAddress(fields.from);
  const std::string problems[] = {ServerProblem(fields.server),
                                  check.namedSender ? NamedSenderAdvice(fields.from)
                                                    : AddressProblem(formcaption::kFrom, fields.from, sSenderRequired, false),
                                  AddressProblem(formcaption::kTo, fields.to, sRecipientRequired, true)};
  for (const std::string& problem : problems)
    if (!problem.empty()) check.problems.push_back(problem);
  return check;
}

std::string FormCheckText(const TFormCheck& check) {
  std::string text;
  for (const std::string& problem : check.problems) text += (text.empty() ? "" : "\n") + problem;
  if (check.namedSender)
    text += "\n\nPut " + QuotedName(check.namedSender->name) + " in \"Sender's name\" and keep " +
            DisplayText(check.namedSender->address) + " as the sender?";
  return text;
}
