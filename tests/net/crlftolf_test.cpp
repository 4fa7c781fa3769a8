#include "net/crlftolf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CrLfToLf, LineEndsBecomeLfAtEveryBlockSize) {
  const struct {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"CR LF", "a\r\nb\r\n", "a\nb\n"},         {"lone CR kept", "a\rb", "a\rb"},
      {"CR before CR LF", "a\r\r\nb", "a\r\nb"}, {"CR at the very end", "a\r", "a\r"},
      {"empty lines", "\r\n\r\n\r\n", "\n\n\n"}, {"LF alone", "a\nb", "a\nb"},
  };
  for (const auto& c : cases)
    for (size_t block : {1, 2, 3, 1000}) {
      TCrLfToLf filter;
      std::string out;
      for (size_t at = 0; at < c.in.size(); at += block)
        out += filter.Convert(std::string_view(c.in).substr(at, block));
      out += filter.Finish();
      EXPECT_EQ(out, c.out) << c.name << ", blocks of " << block;
    }
}

}  // namespace
