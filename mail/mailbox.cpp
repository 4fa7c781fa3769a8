#include "mail/mailbox.h"

#include <arpa/inet.h>

#include <algorithm>
#include <optional>

#include "mail/pxmsg.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

using TProblem = std::optional<StringId>;

// RFC 5321 4.5.3.1.3: the path holds the address in angle brackets, so the address itself may
// take 254; a domain is then always within its own limit of 255. The local part's 64 is not
// held to (4.5.3.1: "implementation techniques that impose no limits ... should be used"):
// forwarding schemes make longer ones that servers take.
constexpr size_t kMaxMailbox = 256 - 2;
// RFC 1035 2.3.4.
constexpr size_t kMaxLabel = 63;

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// What no address may hold, even where its grammar would allow it in quotes: each would let the
// address end early in a header, a list or a command line.
TProblem CharacterProblem(std::string_view address) {
  if (address.empty()) return sAddressEmpty;
  if (!IsAscii(address)) return sAddressHoldsNonAscii;
  if (HasControlCharacter(address)) return sAddressHoldsControl;
  if (address.find(' ') != std::string_view::npos) return sAddressHoldsBlank;
  if (address.find(',') != std::string_view::npos) return sAddressHoldsComma;
  if (address.find_first_of("<>") != std::string_view::npos) return sAddressHoldsBracket;
  if (address.size() > kMaxMailbox) return sAddressTooLong;
  return std::nullopt;
}

// Where the local part ends: after the closing quote of a Quoted-string (a backslash quotes the
// character after it), else at the first "@"; npos when a quote is not closed.
size_t LocalPartEnd(std::string_view address) {
  if (address.front() != '"') return std::min(address.find('@'), address.size());
  for (size_t i = 1; i < address.size(); ++i) {
    if (address[i] == '\\')
      ++i;
    else if (address[i] == '"')
      return i + 1;
  }
  return std::string_view::npos;
}

// A Dot-string: atoms joined by single dots. A Quoted-string needs no check of its own here:
// every printable character may stand in one, quoted or escaped.
TProblem LocalPartProblem(std::string_view local) {
  if (local.empty()) return sLocalPartEmpty;
  if (local.front() == '"') return std::nullopt;
  if (local.front() == '.' || local.back() == '.' || local.find("..") != std::string_view::npos) return sLocalPartDots;
  const bool atoms = std::all_of(local.begin(), local.end(), [](char c) { return c == '.' || IsAtomText(c); });
  return atoms ? std::nullopt : TProblem(sLocalPartNeedsQuotes);
}

// RFC 5321 4.1.3: "[1.2.3.4]" or "[IPv6:...]".
TProblem AddressLiteralProblem(std::string_view domain) {
  constexpr std::string_view kIpv6 = "IPv6:";
  if (domain.size() < 2 || domain.back() != ']') return sDomainLiteral;
  std::string inside(domain.substr(1, domain.size() - 2));
  int family = AF_INET;
  if (StartsText(kIpv6, inside)) {
    inside.erase(0, kIpv6.size());
    family = AF_INET6;
  }
  unsigned char bytes[16];
  return inet_pton(family, inside.c_str(), bytes) == 1 ? std::nullopt : TProblem(sDomainLiteral);
}

// RFC 5321 4.1.2: sub-domain = Let-dig [Ldh-str], joined by dots.
TProblem DomainProblem(std::string_view domain) {
  if (domain.empty()) return sDomainEmpty;
  if (domain.front() == '[') return AddressLiteralProblem(domain);
  for (size_t start = 0; start <= domain.size();) {
    const size_t end = std::min(domain.find('.', start), domain.size());
    const std::string_view label = domain.substr(start, end - start);
    if (label.empty()) return sDomainEmptyLabel;
    if (label.size() > kMaxLabel) return sDomainLabelTooLong;
    if (!std::all_of(label.begin(), label.end(), [](char c) { return c == '-' || IsLetterOrDigit(c); }))
      return sDomainCharacter;
    if (label.front() == '-' || label.back() == '-') return sDomainLabelHyphen;
    start = end + 1;
  }
  return std::nullopt;
}

TProblem ShapeProblem(std::string_view address) {
  if (TProblem problem = CharacterProblem(address)) return problem;
  const size_t localEnd = LocalPartEnd(address);
  if (address.find('@') == std::string_view::npos) return sAddressWithoutAt;
  if (localEnd == std::string_view::npos || localEnd == address.size() || address[localEnd] != '@')
    return sLocalPartQuoteOpen;
  const std::string_view domain = address.substr(localEnd + 1);
  if (domain.find('@') != std::string_view::npos) return sAddressWithTwoAts;
  if (TProblem problem = LocalPartProblem(address.substr(0, localEnd))) return problem;
  return DomainProblem(domain);
}

}  // namespace

std::string MailboxProblem(std::string_view address) {
  const TProblem problem = ShapeProblem(address);
  return problem ? FormatText(LoadStr(sNotAMailAddress), {DisplayText(address), LoadStr(*problem)}) : std::string();
}

bool IsAtomText(char c) {
  return IsLetterOrDigit(c) || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

void CheckMailbox(std::string_view address) {
  if (std::string problem = MailboxProblem(address); !problem.empty()) throw EMessageError(problem);
}
