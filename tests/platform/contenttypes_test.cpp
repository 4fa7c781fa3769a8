// Content type by extension from a mime.types table.
#include "platform/contenttypes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "support/files.h"

namespace {

class ContentTypesTest : public ::testing::Test {
 protected:
  void TearDown() override { SetMimeTypesFile(""); }

  std::string WriteTable(const std::string& name, const std::string& text) {
    const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
    WriteFile(path, text);
    return path;
  }

  QTemporaryDir dir_;
};

TEST_F(ContentTypesTest, LooksUpTheTable) {
  SetMimeTypesFile(WriteTable("mime.types",
                              "# text/x-commented cmt\n"
                              "text/plain\t\ttxt text\n"
                              "text/html html htm # xyz is in a comment\r\n"
                              "application/x-no-extensions\n"
                              "\n"
                              "image/x-old dup\n"
                              "image/x-new dup\n"
                              "Text/X-Mixed MiXeD\n"
                              "message/rfc822 eml"));  // last line without line end
  struct Case {
    const char* name;
    const char* extension;
    const char* type;
  } cases[] = {
      {"listed extension", ".txt", "text/plain"},
      {"second extension of a type", ".text", "text/plain"},
      {"extension given in capitals", ".TXT", "text/plain"},
      {"extension listed in mixed case", ".mixed", "Text/X-Mixed"},
      {"line ending in CR LF", ".htm", "text/html"},
      {"word after # is a comment", ".xyz", ""},
      {"commented-out line", ".cmt", ""},
      {"later line wins for an extension listed twice", ".dup", "image/x-new"},
      {"last line without a line end", ".eml", "message/rfc822"},
      {"unknown extension", ".unknown", ""},
      {"empty extension", "", ""},
      {"lone dot", ".", ""},
      {"extension without its dot", "txt", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RegistryContentType(c.extension), c.type) << c.name;
}

TEST_F(ContentTypesTest, SwitchingTheFileRereadsIt) {
  SetMimeTypesFile(WriteTable("a.types", "text/x-a one\n"));
  EXPECT_EQ(RegistryContentType(".one"), "text/x-a");
  SetMimeTypesFile(WriteTable("b.types", "text/x-b two\n"));
  EXPECT_EQ(RegistryContentType(".one"), "");
  EXPECT_EQ(RegistryContentType(".two"), "text/x-b");
  SetMimeTypesFile(dir_.filePath("missing.types").toStdString());
  EXPECT_EQ(RegistryContentType(".two"), "") << "a missing file knows no extension";
}

TEST_F(ContentTypesTest, SystemTableGivesTheMailTypes) {
  SetMimeTypesFile("");
  EXPECT_EQ(RegistryContentType(".txt"), "text/plain");
  EXPECT_EQ(RegistryContentType(".eml"), "message/rfc822");
  EXPECT_EQ(RegistryContentType(".html"), "text/html");
  EXPECT_EQ(RegistryContentType(".htm"), "text/html");
  EXPECT_EQ(RegistryContentType(".no-such-extension"), "");
}

TEST_F(ContentTypesTest, FirstLookupsFromSeveralThreadsAgree) {
  SetMimeTypesFile(WriteTable("mime.types", "text/plain txt\n"));
  std::vector<std::future<std::string>> lookups;
  for (int i = 0; i < 8; ++i)
    lookups.push_back(std::async(std::launch::async, [] { return RegistryContentType(".txt"); }));
  for (auto& lookup : lookups) EXPECT_EQ(lookup.get(), "text/plain");
}

}  // namespace
