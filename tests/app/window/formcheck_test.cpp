// What the window tells of its form before a batch starts.
#include "app/window/formcheck.h"

#include <gtest/gtest.h>

namespace {

TEST(FormCheck, EachFormGivesTheTextsOfItsBox) {
  const struct {
    const char* name;
    TFormFields fields;
    std::string text;
    const char* splitName;  // nullptr: no split offered
  } cases[] = {
      {"a form that may go", {"mail.example.org:587", "me@example.org", "you@example.org"}, "", nullptr},
      {"all three empty",
       {"", " ", ""},
       "Server property is required\nThe address of sender is required\n"
       "At least one Recipient, CC or BCC must be entered",
       nullptr},
      {"a bad port",
       {"mail.example.org:99999", "me@example.org", "you@example.org"},
       "MailServer: \"mail.example.org:99999\" is not a server: the port must be a number from 1 to 65535.",
       nullptr},
      {"a malformed recipient",
       {"mail.example.org", "me@example.org", "you.example.org"},
       "E-Mail To: \"you.example.org\" is not a mail address: it holds no @.",
       nullptr},
      {"a sender with its name, and no recipient",
       {"mail.example.org", "\"Smith, Anna\" <anna@example.org>", ""},
       "E-Mail From: \"Smith, Anna\" <anna@example.org> holds a name: the name belongs in \"Sender's name\" "
       "(Account\u2026), this field takes the address alone.\n"
       "At least one Recipient, CC or BCC must be entered\n\n"
       "Put \"Smith, Anna\" in \"Sender's name\" and keep anna@example.org as the sender?",
       "Smith, Anna"},
      {"a name with an address that is none is only malformed",
       {"mail.example.org", "Anna <anna at example.org>", "you@example.org"},
       "E-Mail From: \"Anna <anna at example.org>\" is not a mail address: it holds a blank.",
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TFormCheck check = CheckForm(c.fields);
    EXPECT_EQ(FormCheckText(check), c.text);
    ASSERT_EQ(check.namedSender.has_value(), c.splitName != nullptr);
    if (c.splitName) {
      EXPECT_EQ(check.namedSender->name, c.splitName);
      EXPECT_EQ(check.namedSender->address, "anna@example.org");
    }
  }
}

}  // namespace
