#include "toolkit/stringlist.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/files.h"
#include "toolkit/exceptions.h"
#include "toolkit/streams.h"

namespace {
std::vector<std::string> Lines(std::string_view text) {
  TStringList l;
  l.SetText(text);
  return l.Lines();
}

TStringList ListOf(std::initializer_list<const char*> lines) {
  TStringList l;
  for (const char* line : lines) l.Add(line);
  return l;
}
}  // namespace

TEST(StringList, SetTextSplitsAtEveryLineEnd) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string text;
    V lines;
  };
  const Case cases[] = {
      {"CR LF", "a\r\nb\r\n", V{"a", "b"}},
      {"lone LF", "a\nb\n", V{"a", "b"}},
      {"lone CR", "a\rb\r", V{"a", "b"}},
      {"last line without line end", "a\r\nlast", V{"a", "last"}},
      {"empty lines kept", "a\r\n\r\n\nb", V{"a", "", "", "b"}},
      {"LF CR is two line ends", "a\n\rb", V{"a", "", "b"}},
      {"NUL ends the text", std::string("a\r\nb\0c\r\n", 8), V{"a", "b"}},
      {"one empty line", "\r\n", V{""}},
      {"empty text", "", V{}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lines(c.text), c.lines) << c.name;
}

TEST(StringList, TextAndStreams) {
  TStringList l;
  l.Add("one");
  l.Add("");
  l.Add("three");
  EXPECT_EQ(l.Text(), "one\r\n\r\nthree\r\n");
  TMemoryStream m("skipped\nfirst\nsecond");
  m.SetPosition(8);  // loading starts at the stream's position
  l.LoadFromStream(m);
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"first", "second"}));
  TMemoryStream out;
  l.SaveToStream(out);
  EXPECT_EQ(out.Data(), "first\r\nsecond\r\n");
}

TEST(StringList, SortIgnoresCaseAndKeepsEqualLinesInOrder) {
  TStringList l;
  for (const char* s : {"/tmp/b", "/tmp/A", "/tmp/a", "/tmp/C", "/tmp/ab"}) l.Add(s);
  l.Sort();
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"/tmp/A", "/tmp/a", "/tmp/ab", "/tmp/b", "/tmp/C"}));
  EXPECT_EQ(l.IndexOf("/TMP/C"), 4);
  EXPECT_EQ(l.IndexOf("/tmp/d"), -1);
}

TEST(StringList, IndexOutOfBoundsRaises) {
  TStringList l;
  l.Add("only");
  try {
    (void)l[1];
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  EXPECT_THROW(l.Delete(-1), EListError);
  EXPECT_THROW(l.Insert(2, "x"), EListError);
  l.Insert(1, "appended");  // inserting at Count appends
  EXPECT_EQ(l[1], "appended");
}

TEST(SaveLinesToFile, WritesCrLfLinesAndRaisesInOutError) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("log.txt").toStdString();
  WriteFile(path, "old contents that are longer");
  SaveLinesToFile(ListOf({"one", "", "three"}), path);
  EXPECT_EQ(ReadFile(path), "one\r\n\r\nthree\r\n");
  EXPECT_THROW(SaveLinesToFile(ListOf({"x"}), dir.filePath("no/such/dir").toStdString()), EInOutError);
}
