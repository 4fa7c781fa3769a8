#include "mail/addresslist.h"

#include <gtest/gtest.h>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"

namespace {

TEST(AddressListTest, ReadsEntriesAndNamesWhatItRefuses) {
  const struct {
    const char* what;
    const char* text;
    const char* kept;                  // "name <address>" each, joined by " | "
    std::vector<std::string> refused;  // the address texts MailboxProblem speaks of
  } cases[] = {
      {"bare, blank entries skipped", ", a@x.org,, \t ,b@y.org,", " <a@x.org> |  <b@y.org>", {}},
      {"phrase, quoted comma and pairs",
       "Ann   Lee <a@x.org>,\"Doe, \\\"J\\\"\" < j@y.org >",
       "Ann Lee <a@x.org> | Doe, \"J\" <j@y.org>",
       {}},
      {"comments: a name, or left out",
       "c@z.org (Carol, (CC)), Ann (work, home) <a@x.org>",
       "Carol, (CC) <c@z.org> | Ann <a@x.org>",
       {}},
      {"UTF-8 name, quoted local part",
       "J\xc3\xbcrgen <j@x.de>, \"j.d\"@x.org",
       "J\xc3\xbcrgen <j@x.de> |  <\"j.d\"@x.org>",
       {}},
      {"bad addresses refused", "Bad <b@>, ok@x.org, c d@x.org, <>", " <ok@x.org>", {"b@", "c d@x.org", ""}},
      {"open quote takes the rest", "\"Last, First <c@z.org>", "", {"\"Last, First <c@z.org>"}},
      {"a second angle address", "A <a@x.org> <b@x.org>", "", {"A <a@x.org> <b@x.org>"}},
  };
  for (const auto& c : cases) {
    const TAddressListReading reading = ReadAddressList(c.text);
    std::string kept;
    for (const TListedMailbox& m : reading.mailboxes)
      kept += (kept.empty() ? "" : " | ") + m.name + " <" + m.address + ">";
    EXPECT_EQ(kept, c.kept) << c.what;
    std::vector<std::string> problems;
    for (const std::string& address : c.refused) problems.push_back(MailboxProblem(address));
    EXPECT_EQ(reading.problems, problems) << c.what;
  }
  TpxAddressList list;
  AddAddressList("\"Doe, Jane\" <jane@y.org>, b@y.org", list);
  EXPECT_THROW(AddAddressList("c@y.org, x", list), EMessageError);
  ASSERT_EQ(list.Count(), 2) << "a list with a problem adds nothing";
  EXPECT_EQ(list.Items(0).Name(), "Doe, Jane");
}

}  // namespace
