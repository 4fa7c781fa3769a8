// Which names a watch takes.
#include "app/batch/watchnames.h"

#include <gtest/gtest.h>

namespace {

TEST(WatchNames, TemporaryNamesNeverIncludesOnlyExcludesNot) {
  const TWatchNames none, pdfs{{"*.pdf", "*.PDF"}, {"draft*"}};
  for (const char* name : {".hidden.pdf", "~lock.pdf", "scan.pdf~", "scan.pdf.part", "scan.pdf.tmp",
                           "scan.pdf.crdownload", "scan.pdf.partial", "scan.swp", ""})
    EXPECT_FALSE(WatchTakes(none, name) || WatchTakes(pdfs, name)) << name;
  // Names taken without patterns, and whether with pdfs.
  const std::pair<const char*, bool> rows[] = {{"scan.pdf", true},     {"SCAN.PDF", true}, {"notes.txt", false},
                                               {"draft-1.pdf", false}, {"part", false},    {"scan.pdf.txt", false}};
  for (const auto& [name, pdf] : rows) {
    EXPECT_TRUE(WatchTakes(none, name)) << name;
    EXPECT_EQ(WatchTakes(pdfs, name), pdf) << name;
  }
}

}  // namespace
