// Which batch "resume" means, from the journals of a folder.
#include "app/batch/batchplan.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchquestions.h"
#include "support/files.h"

namespace {

TJournalHead Head() { return {"smtp.example.org", "me@example.org", "you@example.net", "Files", {"/data/a.pdf"}, ""}; }

TEST(BatchPlan, TheFolderListsJournalsOldestFirstAndOnlyTheNewestIsResumed) {
  QTemporaryDir home;
  const std::string runningFolder = home.filePath("mailcart").toStdString();
  EXPECT_TRUE(ReadJournals(runningFolder).empty());
  using E = TJournalEnd;
  const struct {
    const char* name;
    TJournalEnd newest;
    const char* why;  // "" when it is resumed
  } cases[] = {
      {"stopped by a crash", E::None, ""},
      {"cancelled", E::Cancelled, ""},
      {"ended by an error after files went", E::Failed, ""},
      {"finished", E::Finished, "finished"},
      {"declined", E::Declined, "declined"},
      {"ended at its start", E::SetupFailed, "ended at its start by an error: 535 no"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const std::string folder = dir.filePath("mailcart").toStdString();
    std::vector<std::string> names;
    for (const TJournalEnd end : {E::Cancelled, c.newest}) {
      TJournalWriter writer(folder, Head());
      if (end != E::None) writer.End(end, end == E::SetupFailed ? "535 no" : "");
      names.push_back(writer.FileName());
    }
    WriteFile(folder + "/other.jsonl", "{\"type\":\"file\"}\n");  // no head: no journal
    const std::vector<TJournal> journals = ReadJournals(folder);
    ASSERT_EQ(journals.size(), 2u);
    EXPECT_EQ(journals[0].fileName, names[0]);
    std::string why;
    const std::optional<TJournal> resumed = NewestResumable(journals, why);
    // The older, cancelled batch is never taken in the newest one's place.
    EXPECT_EQ(resumed ? resumed->fileName : "", *c.why ? "" : names[1]);
    if (*c.why) {
      EXPECT_EQ(why, "the newest batch, of " + DayOf(journals[1].head.started) +
                         " to you@example.net through smtp.example.org, " + c.why);
    }
  }
  {
    TJournalWriter running(runningFolder, Head());
    std::string why;
    EXPECT_FALSE(NewestResumable(ReadJournals(runningFolder), why));
    EXPECT_NE(why.find("still running"), std::string::npos) << why;
  }
}

}  // namespace
