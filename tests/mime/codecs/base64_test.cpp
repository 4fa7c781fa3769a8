#include "mime/codecs/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/samples.h"
#include "toolkit/exceptions.h"
#include "toolkit/streams.h"

namespace {

// The composer's layout built the slow way, one Base64Encode per 57-byte read.
std::string ReferenceLines(std::string_view data) {
  std::string out;
  for (;;) {
    const std::string_view group = data.substr(0, kBase64LineBytes);
    out += Base64Encode(group) + "\r\n";
    data.remove_prefix(group.size());
    if (group.size() < kBase64LineBytes) return out;
  }
}

std::string EncodeInChunks(std::string_view data, size_t chunk) {
  TBase64LineEncoder encoder;
  std::string out;
  for (size_t i = 0; i < data.size(); i += chunk) encoder.Add(data.substr(i, chunk), out);
  encoder.Finish(out);
  return out;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

struct Case {
  const char* name;
  std::string in;
  std::string out;
};

TEST(Base64, EncodesAndDecodesKnownLines) {
  const std::vector<Case> cases = {
      {"no bytes give the empty line", "", ""},
      {"one byte is padded with two", "a", "YQ=="},
      {"two bytes are padded with one", "ab", "YWI="},
      {"three bytes fill a group", "abc", "YWJj"},
      {"high bytes and NUL", std::string("\xff\xfe\xfd\x00", 4), "//79AA=="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Encode(c.in), c.out) << c.name;
    EXPECT_EQ(Base64Decode(c.out), c.in) << c.name;
  }
  EXPECT_EQ(Base64Encode(std::string(57, 'x')).size(), 76u);
}

TEST(Base64, DecodesLenientForms) {
  const std::vector<Case> cases = {
      {"padding that spoils the last byte is trimmed", "YW==", "a"},
      {"a padded group inside the line", "YQ==YWJj", "aabc"},
      {"a short last group counts as padded", "YWJjYQ", "abca"},
      {"a lone last character holds no byte", "YWJjY", "abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(Base64Decode(c.in), c.out) << c.name;
}

TEST(Base64, RejectsForeignCharactersAndMisplacedPadding) {
  const std::vector<Case> cases = {
      {"a blank", "YW Jj", ""},
      {"a line end", "YWJj\r", ""},
      {"a character outside the alphabet", "YW*j", ""},
      {"one data character before the padding", "Y===", ""},
      {"data after padding", "YW=j", ""},
      {"padding first", "=YWJ", ""},
  };
  for (const Case& c : cases) {
    std::string out = "kept";
    try {
      AppendBase64Decoded(c.in, out);
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), "Invalid Character") << c.name;
    }
    EXPECT_EQ(out, "kept") << c.name;
  }
  EXPECT_EQ(Base64Value('='), 255);
  EXPECT_EQ(Base64Value('/'), 63);
  EXPECT_THROW(Base64Value('\n'), EInOutError);
}

TEST(Base64, FindsAForeignByteAnywhereInALongLine) {
  const std::string bytes = RandomBytes(114, 9);
  const std::string line = Base64Encode(bytes);  // 152 characters, quick paths all through
  for (size_t pos : {size_t{0}, size_t{5}, size_t{31}, size_t{32}, size_t{63}, size_t{64}, size_t{100}, size_t{151}}) {
    for (int c = 0; c < 256; ++c) {
      if (std::string_view(kAlphabet).find(static_cast<char>(c)) != std::string_view::npos) continue;
      std::string bad = line;
      bad[pos] = static_cast<char>(c);
      std::string out;
      ASSERT_THROW(AppendBase64Decoded(bad, out), EInOutError) << pos << " " << c;
      if (c == '\n') continue;  // in a block it only ends a line
      // In a block, the lines before the bad one are kept.
      out.clear();
      ASSERT_THROW(AppendBase64DecodedLines(line + "\r\n" + line + "\r\n" + bad + "\r\n", out), EInOutError);
      ASSERT_EQ(out, bytes + bytes) << pos << " " << c;
    }
  }
}

TEST(Base64, RoundTripsEveryLengthUpTo300) {
  for (size_t n = 0; n <= 300; ++n) {
    const std::string data = RandomBytes(n, static_cast<uint32_t>(n));
    ASSERT_EQ(Base64Decode(Base64Encode(data)), data) << n;
  }
}

TEST(Base64, LaysOutLinesAsTheComposerWritesThem) {
  // A length that is a multiple of 57, none included, ends with one empty line.
  const std::vector<std::pair<size_t, std::vector<size_t>>> cases = {{0, {0}},      {1, {4}},      {56, {76}},
                                                                     {57, {76, 0}}, {58, {76, 4}}, {114, {76, 76, 0}}};
  for (const auto& [size, lineLengths] : cases) {
    const std::string text = EncodeInChunks(std::string(size, 'q'), 1000);
    std::vector<size_t> got;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find("\r\n", at);
      ASSERT_NE(end, std::string::npos);
      got.push_back(end - at);
      at = end + 2;
    }
    EXPECT_EQ(got, lineLengths) << size;
  }
}

TEST(Base64, BlockFormsMatchTheLineFormsAtEveryChunkSize) {
  const std::string data = RandomBytes(3 * 1024 * 1024 + 17, 7);
  const std::string expected = ReferenceLines(data);
  for (size_t chunk : {size_t{1}, size_t{16}, size_t{56}, size_t{1024}, data.size()}) {
    ASSERT_EQ(EncodeInChunks(data, chunk), expected) << chunk;
  }
  std::string decoded;
  AppendBase64DecodedLines(expected, decoded);
  EXPECT_EQ(decoded, data);
}

TEST(Base64, WritesLinesOfAWholeStreamFromItsStart) {
  const std::string data = RandomBytes(200000, 3);
  TMemoryStream source(data);
  source.SetPosition(1234);
  TMemoryStream output;
  output.WriteString("head\r\n");
  WriteBase64Lines(source, output);
  EXPECT_EQ(output.Data(), "head\r\n" + ReferenceLines(data));
}

TEST(Base64, DecodesBlocksWithUnixLineEndsAndNoFinalLineEnd) {
  std::string out;
  AppendBase64DecodedLines("YWJj\nYQ==\r\n\r\nYWI=", out);
  EXPECT_EQ(out, "abcaab");
}

}  // namespace
