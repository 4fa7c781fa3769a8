#include "toolkit/linestream.h"

#include <gtest/gtest.h>

#include <random>

#include "toolkit/stringlist.h"

namespace {

std::vector<std::string> AllLines(TLineStream& stream) {
  std::vector<std::string> lines;
  std::string line;
  for (int guard = 0; guard < 1000000; ++guard) {
    stream.ReadLine(line);
    if (stream.Eof()) {
      EXPECT_EQ(line, TLineStream::kLineStreamEnd);
      break;
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LinesOf(const std::string& data) {
  TLineStream stream;
  stream.WriteString(data);
  stream.Reset();
  return AllLines(stream);
}

TEST(LineStream, ReturnsEveryLineWhole) {
  const std::string longLine(40000, 'x');
  struct Case {
    const char* name;
    std::string data;
    std::vector<std::string> lines;
  } cases[] = {
      {"two CR LF lines", "one\r\ntwo\r\n", {"one", "two"}},
      {"last line without a line end", "one\r\ntwo", {"one", "two"}},
      {"empty line kept", "one\r\n\r\ntwo\r\n", {"one", "", "two"}},
      {"lone LF and lone CR end lines", "a\nb\rc\r\n", {"a", "b", "c"}},
      {"CR at the very end", "a\r", {"a"}},
      {"LF CR is two line ends", "a\n\rb", {"a", "", "b"}},
      {"zero byte stays in its line", std::string("a\0b\r\nc", 6), {std::string("a\0b", 3), "c"}},
      {"no data", "", {}},
      {"only a line end", "\r\n", {""}},
      {"line longer than a chunk", longLine + "\r\nz\r\n", {longLine, "z"}},
      {"long last line without line end", "a\r\n" + longLine, {"a", longLine}},
  };
  for (const Case& c : cases) EXPECT_EQ(LinesOf(c.data), c.lines) << c.name;
}

// The string list splits text by the same rules; it is an independent implementation to check
// against on data where chunk and cache boundaries fall everywhere.
TEST(LineStream, AgreesWithStringListOnRandomData) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'b', '\r', '\n'};
  for (int round = 0; round < 40; ++round) {
    std::string data;
    const int size = static_cast<int>(random() % 60000);
    for (int i = 0; i < size; ++i) data += alphabet[random() % (round % 2 ? 4 : 3)];
    TStringList reference;
    reference.SetText(data);
    EXPECT_EQ(LinesOf(data), reference.Lines()) << "round " << round;
  }
}

TEST(LineStream, SentinelRepeatsUntilResetStartsAgain) {
  TLineStream stream;
  stream.WriteString("one\r\ntwo");
  for (int pass = 0; pass < 2; ++pass) {
    stream.Reset();
    EXPECT_FALSE(stream.Eof());
    EXPECT_EQ(AllLines(stream), (std::vector<std::string>{"one", "two"}));
    std::string line;
    stream.ReadLine(line);
    EXPECT_TRUE(stream.Eof());
    EXPECT_EQ(line, std::string(4, '\xFF'));
  }
}

}  // namespace
