#include "mail/addresslist.h"

#include <algorithm>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "toolkit/strutils.h"

namespace {

// One piece of the typed text. Quoted strings and comments carry their content with the quoted
// pairs undone (RFC 5322 3.2.1); the others their characters as typed. [begin, end) is where
// the piece stands in the text.
struct TToken {
  enum class Kind { word, quoted, comment, blank, comma, open, close } kind;
  std::string text;
  size_t begin = 0;
  size_t end = 0;
  bool unclosed = false;  // a quoted string or comment that runs to the end of the text
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A quoted string from the quote at `at`, or a comment from its "(", nested comments included
// (RFC 5322 3.2.2); a backslash quotes the character after it.
TToken Enclosed(std::string_view text, size_t at) {
  const bool quoted = text[at] == '"';
  TToken token{quoted ? TToken::Kind::quoted : TToken::Kind::comment, "", at, text.size(), true};
  int depth = 1;
  for (size_t i = at + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      token.text += text[++i];
      continue;
    }
    if (quoted ? c == '"' : c == ')' && --depth == 0) {
      token.end = i + 1;
      token.unclosed = false;
      return token;
    }
    if (!quoted && c == '(') ++depth;
    token.text += c;
  }
  return token;
}

TToken::Kind KindOf(char c) {
  switch (c) {
    case ',': return TToken::Kind::comma;
    case '<': return TToken::Kind::open;
    case '>': return TToken::Kind::close;
    default: return IsBlank(c) ? TToken::Kind::blank : TToken::Kind::word;
  }
}

// The whole text in one pass: a run of blanks or of word characters is one token.
std::vector<TToken> Tokens(std::string_view text) {
  std::vector<TToken> tokens;
  for (size_t at = 0; at < text.size();) {
    if (text[at] == '"' || text[at] == '(') {
      tokens.push_back(Enclosed(text, at));
    } else {
      const TToken::Kind kind = KindOf(text[at]);
      size_t end = at + 1;
      const bool run = kind == TToken::Kind::word || kind == TToken::Kind::blank;
      while (run && end < text.size() && text[end] != '"' && text[end] != '(' && KindOf(text[end]) == kind) ++end;
      tokens.push_back({kind, std::string(text.substr(at, end - at)), at, end});
    }
    at = tokens.back().end;
  }
  return tokens;
}

using TTokens = std::vector<TToken>::const_iterator;

// The display name of a phrase: words and quoted strings as they read, each run of blanks one
// blank, comments left out.
std::string Phrase(TTokens begin, TTokens end) {
  std::string name;
  bool blank = false;
  for (TTokens t = begin; t != end; ++t) {
    if (t->kind == TToken::Kind::blank) {
      blank = !name.empty();
    } else if (t->kind != TToken::Kind::comment) {
      if (blank) name += ' ';
      name += t->text;
      blank = false;
    }
  }
  return name;
}

std::string_view Source(std::string_view text, TTokens begin, TTokens end) {
  return begin == end ? std::string_view() : text.substr(begin->begin, (end - 1)->end - begin->begin);
}

bool Only(TTokens begin, TTokens end, std::initializer_list<TToken::Kind> kinds) {
  return std::all_of(begin, end,
                     [kinds](const TToken& t) { return std::find(kinds.begin(), kinds.end(), t.kind) != kinds.end(); });
}

// One entry of the list. Without its parts where they belong, the entry as typed stands for the
// address, so that the check shows it and says what is wrong.
TListedMailbox Entry(std::string_view text, TTokens begin, TTokens end) {
  const auto isKind = [](TToken::Kind kind) { return [kind](const TToken& t) { return t.kind == kind; }; };
  const TTokens open = std::find_if(begin, end, isKind(TToken::Kind::open));
  const TTokens close = std::find_if(begin, end, isKind(TToken::Kind::close));
  const bool unclosed = std::any_of(begin, end, [](const TToken& t) { return t.unclosed; });
  const std::string typed = Trim(Source(text, begin, end));
  if (unclosed) return {"", typed};
  if (open == end && close == end) {
    // A bare address; a comment after it names it ("a@x (Ann)").
    std::string address;
    std::string name;
    for (TTokens t = begin; t != end; ++t) {
      if (t->kind != TToken::Kind::comment) address += Source(text, t, t + 1);
      if (t->kind == TToken::Kind::comment && name.empty()) name = Trim(t->text);
    }
    return {name, Trim(address)};
  }
  const bool angle = open < close && std::count_if(begin, end, isKind(TToken::Kind::open)) == 1 &&
                     std::count_if(begin, end, isKind(TToken::Kind::close)) == 1 &&
                     Only(close + 1, end, {TToken::Kind::blank, TToken::Kind::comment});
  if (!angle) return {"", typed};
  return {Phrase(begin, open), Trim(Source(text, open + 1, close))};
}

}  // namespace

TAddressListReading ReadAddressList(std::string_view text) {
  TAddressListReading reading;
  const std::vector<TToken> tokens = Tokens(text);
  for (TTokens begin = tokens.begin(); begin <= tokens.end();) {
    const TTokens end =
        std::find_if(begin, tokens.end(), [](const TToken& t) { return t.kind == TToken::Kind::comma; });
    if (!Only(begin, end, {TToken::Kind::blank})) {
      TListedMailbox mailbox = Entry(text, begin, end);
      if (std::string problem = MailboxProblem(mailbox.address); !problem.empty()) {
        reading.problems.push_back(std::move(problem));
      } else {
        reading.mailboxes.push_back(std::move(mailbox));
      }
    }
    if (end == tokens.end()) break;
    begin = end + 1;
  }
  return reading;
}

void AddAddressList(std::string_view text, TpxAddressList& list) {
  const TAddressListReading reading = ReadAddressList(text);
  if (!reading.problems.empty()) throw EMessageError(reading.problems.front());
  for (const TListedMailbox& mailbox : reading.mailboxes) list.AddAddress(mailbox.address, mailbox.name);
}
