// Subjects with fields, as a batch of three files fills them in.
#include "app/batch/subjecttemplate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(FillSubject, EachFileOfABatchGetsItsOwnSubject) {
  const std::vector<std::string> names = {"a.pdf", "R\xc3\xa9sum\xc3\xa9 M\xc3\xa4rz.txt", "{n}.txt"};
  const struct {
    const char* subject;
    std::vector<std::string> expected;  // for files 1, 2 and 3
  } cases[] = {
      {"Scans", {"Scans", "Scans", "Scans"}},
      {"Scan {n} of {count}: {name}",
       {"Scan 1 of 3: a.pdf", "Scan 2 of 3: R\xc3\xa9sum\xc3\xa9 M\xc3\xa4rz.txt", "Scan 3 of 3: {n}.txt"}},
      {"{date} {n}", {"2026-12-08 1", "2026-12-08 2", "2026-12-08 3"}},
      {"{{n}} and }}{{", {"{n} and }{", "{n} and }{", "{n} and }{"}},
      {"{x} {N} {name", {"{x} {N} {name", "{x} {N} {name", "{x} {N} {name"}},
      {"lone { and } braces {", {"lone { and } braces {", "lone { and } braces {", "lone { and } braces {"}},
      {"{{{n}}}", {"{1}", "{2}", "{3}"}},
      {"", {"", "", ""}},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) {
      const TSubjectFields fields{names[i], i + 1, 3, "2026-12-08"};
      EXPECT_EQ(FillSubject(c.subject, fields), c.expected[i]) << c.subject << " for file " << i + 1;
    }
  }
}

TEST(FillSubject, TodayIsAnIsoDate) {
  const std::string today = TodayIsoDate();
  ASSERT_EQ(today.size(), 10u);
  EXPECT_EQ(today[4], '-');
  EXPECT_EQ(today[7], '-');
  EXPECT_EQ(today.find_first_not_of("0123456789-"), std::string::npos);
}
