// Which names a watch takes.
#include "app/batch/watchnames.h"

#include <gtest/gtest.h>

namespace {

TEST(WatchNames, TemporaryNamesNeverIncludesOnlyExcludesNot) {
  const TWatchNames none;
  const TWatchNames pdfs{{"*.pdf", "*.PDF"}, {"draft*"}};
  const struct {
    const char* name;
    bool plain, withPatterns;
  } rows[] = {
      {"scan.pdf", true, true},
      {"SCAN.PDF", true, true},
      {"notes.txt", true, false},
      {"draft-1.pdf", true, false},
      {".hidden.pdf", false, false},
      {"~lock.pdf", false, false},
      {"scan.pdf~", false, false},
      {"scan.pdf.part", false, false},
      {"scan.pdf.tmp", false, false},
      {"scan.pdf.crdownload", false, false},
      {"scan.pdf.partial", false, false},
      {".scan.pdf.swp", false, false},
      {"scan.swp", false, false},
      {"part", true, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(WatchTakes(none, row.name), row.plain) << row.name;
    EXPECT_EQ(WatchTakes(pdfs, row.name), row.withPatterns) << row.name;
  }
}

}  // namespace
