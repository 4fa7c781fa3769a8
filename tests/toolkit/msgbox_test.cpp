#include "toolkit/msgbox.h"

#include <gtest/gtest.h>

#include "support/recording_msgbox.h"
#include "toolkit/exceptions.h"

TEST(MsgBox, StandardErrorTextAddsAFullStopOnlyAfterCharactersSortingAfterIt) {
  struct Case {
    const char* name;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"letter", "Operation timed out", "Operation timed out."},
      {"full stop already", "Done.", "Done."},
      {"question mark sorts after", "Really?", "Really?."},
      {"digit sorts after", "Error 10061", "Error 10061."},
      {"slash sorts after", "path/", "path/."},
      {"exclamation mark sorts before", "Stop!", "Stop!"},
      {"closing bracket sorts before", "(none)", "(none)"},
      {"hyphen sorts before", "a-", "a-"},
      {"trailing blank sorts before", "x ", "x "},
      {"byte above 127 sorts after", "caf\xe9", "caf\xe9."},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StandardErrorText(c.in), c.out) << c.name;
}

TEST(MsgBox, BoxesGoToTheInstalledServiceAndBack) {
  RecordingMessageBoxes outer;
  {
    RecordingMessageBoxes inner;
    std::vector<std::string> seenWhileOpen;
    inner.onShow = [&](const RecordingMessageBoxes::Box& box) {
      seenWhileOpen.push_back(box.text);
      if (box.icon == TMsgIcon::Error) ShowInformation("nested");
    };
    ShowException(EInOutError("Cannot create file \"/x/mailcart.ini\". Permission denied"));
    ASSERT_EQ(inner.boxes.size(), 2u);
    EXPECT_EQ(inner.boxes[0].text, "Cannot create file \"/x/mailcart.ini\". Permission denied.");
    EXPECT_EQ(inner.boxes[0].title, "Mailcart");
    EXPECT_EQ(inner.boxes[0].icon, TMsgIcon::Error);
    EXPECT_EQ(inner.boxes[1].icon, TMsgIcon::Information);
    EXPECT_EQ(seenWhileOpen, (std::vector<std::string>{inner.boxes[0].text, "nested"}));
  }
  MessageBox("after", "T", TMsgIcon::Warning);
  ASSERT_EQ(outer.boxes.size(), 1u);
  EXPECT_EQ(outer.boxes[0].title, "T");
}
