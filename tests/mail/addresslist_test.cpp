#include "mail/addresslist.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"

namespace {

using Mailboxes = std::vector<std::pair<std::string, std::string>>;  // name, address

TEST(AddressListTest, ReadsEntriesAndNamesWhatItRefuses) {
  const struct {
    const char* what;
    const char* text;
    Mailboxes kept;
    std::vector<std::string> refused;  // the address texts MailboxProblem speaks of
  } cases[] = {
      {"bare addresses", "a@x.org,b@y.org", {{"", "a@x.org"}, {"", "b@y.org"}}, {}},
      {"a phrase, its blanks folded, and a quoted name holding a comma",
       "  Ann   Lee <ann@x.org> ,\"Doe, Jane\" < jane@y.org >",
       {{"Ann Lee", "ann@x.org"}, {"Doe, Jane", "jane@y.org"}},
       {}},
      {"quoted pairs are undone", "\"Say \\\"hi\\\" \\\\o/\" <s@x.org>", {{"Say \"hi\" \\o/", "s@x.org"}}, {}},
      {"a comment after a bare address names it, its comma and nesting kept",
       "c@z.org (Carol, (CC)), d@z.org",
       {{"Carol, (CC)", "c@z.org"}, {"", "d@z.org"}},
       {}},
      {"a comment in a phrase is left out", "Ann (work, mostly) <ann@x.org>", {{"Ann", "ann@x.org"}}, {}},
      {"entries of blanks only are skipped", ", ,a@x.org,, \t ,b@y.org,", {{"", "a@x.org"}, {"", "b@y.org"}}, {}},
      {"a UTF-8 name", "J\xc3\xbcrgen M\xc3\xbcller <j@x.de>", {{"J\xc3\xbcrgen M\xc3\xbcller", "j@x.de"}}, {}},
      {"a quoted local part stays quoted", "\"j.doe\"@x.org", {{"", "\"j.doe\"@x.org"}}, {}},
      {"bad addresses are refused, the good ones kept",
       "ok@x.org, Bad <b@>, c d@x.org, <>",
       {{"", "ok@x.org"}},
       {"b@", "c d@x.org", ""}},
      {"a quote left open takes the rest, shown whole",
       "a@x.org, \"Last, First <c@z.org>",
       {{"", "a@x.org"}},
       {"\"Last, First <c@z.org>"}},
      {"a second angle address or text after it",
       "A <a@x.org> <b@x.org>, B <b@x.org> c",
       {},
       {"A <a@x.org> <b@x.org>", "B <b@x.org> c"}},
  };
  for (const auto& c : cases) {
    const TAddressListReading reading = ReadAddressList(c.text);
    Mailboxes kept;
    for (const TListedMailbox& m : reading.mailboxes) kept.emplace_back(m.name, m.address);
    EXPECT_EQ(kept, c.kept) << c.what;
    std::vector<std::string> problems;
    for (const std::string& address : c.refused) problems.push_back(MailboxProblem(address));
    EXPECT_EQ(reading.problems, problems) << c.what;
  }
}

TEST(AddressListTest, AddsAllOrNothing) {
  TpxAddressList list;
  AddAddressList("\"Doe, Jane\" <jane@y.org>, b@y.org", list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0).Name(), "Doe, Jane");
  EXPECT_EQ(list.Items(1).Address(), "b@y.org");
  EXPECT_THROW(
      try { AddAddressList("c@y.org, x", list); } catch (const EMessageError& e) {
        EXPECT_EQ(e.what(), MailboxProblem("x"));
        throw;
      },
      EMessageError);
  EXPECT_EQ(list.Count(), 2);
}

}  // namespace
