// mailcart-unpack from outside: usage, exit status, and that a file name taken from a message
// can never leave the target folder, hide a file or replace one.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "mail/pxmsg.h"
#include "support/files.h"
#include "support/unpack_tool.h"
#include "toolkit/streams.h"

namespace {

// A multipart message with one small 7bit attachment part per name, each holding its index.
std::string MessageWithNames(const std::vector<std::string>& names) {
  std::string text =
      "From: ann@example.com\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nThe body.\r\n";
  for (size_t i = 0; i < names.size(); ++i)
    text += "--b\r\nContent-Type: application/x-data; name=\"" + names[i] + "\"\r\n\r\n" + std::to_string(i) + "\r\n";
  return text + "--b--\r\n";
}

class UnpackTest : public ::testing::Test {
 protected:
  std::string Root() const { return temp_.path().toStdString(); }
  // Writes the message to ROOT/message.eml and unpacks it into ROOT/out.
  UnpackRun Unpack(const std::string& text) {
    WriteFile(Root() + "/message.eml", text);
    return RunUnpack({Root() + "/message.eml", Out()});
  }
  std::string Out() const { return Root() + "/out"; }

  QTemporaryDir temp_;
};

TEST_F(UnpackTest, ExitStatus) {
  QDir(QString::fromStdString(Root())).mkdir("folder");
  WriteFile(Root() + "/-dash.eml", MessageWithNames({}));
  const struct {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {"no arguments", {}, 2},
      {"three arguments", {"a.eml", "dir", "more"}, 2},
      {"a message that is not there", {Root() + "/missing.eml", Out()}, 1},
      {"a folder instead of a message", {Root() + "/folder", Out()}, 1},
      {"help", {"--help"}, 0},
      {"short help", {"-h"}, 0},
      {"version", {"--version"}, 0},
      {"an unknown option", {"--verbose", Root() + "/folder"}, 2},
      {"an unknown option after the message", {Root() + "/folder", "-x"}, 2},
      {"a message named like an option", {"--", "-dash.eml", Out()}, 0},
  };
  // What a successful run prints first.
  auto firstLine = [&](const std::string& arg) -> std::string {
    if (arg == "--") return Out() + "/body.txt";
    if (arg == "--version") return std::string("mailcart-unpack ") + MAILCART_VERSION;
    return "usage: mailcart-unpack [--] MESSAGE [DIR]";
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const UnpackRun run = RunUnpack(c.args, Root());
    EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
    if (c.exitCode == 0) {
      EXPECT_TRUE(run.errors.empty()) << run.errors;
      ASSERT_FALSE(run.lines.empty());
      EXPECT_EQ(run.lines[0], firstLine(c.args[0]));
    } else {
      EXPECT_TRUE(run.lines.empty());
      EXPECT_FALSE(run.errors.empty());
    }
  }
}

TEST_F(UnpackTest, NamesFromTheMessageAreMadeSafe) {
  const std::string longName = std::string(251, 'n') + ".txt";
  const struct {
    std::string inMessage;
    std::string written;
  } names[] = {
      {"report.pdf", "report.pdf"},
      {"../../escape.txt", "escape.txt"},
      {"/etc/passwd", "passwd"},
      {"C:\\Users\\ann\\notes.txt", "notes.txt"},
      {".bashrc", "bashrc"},
      {"..", "attachment"},
      {"folder/", "attachment (2)"},
      {" . .hidden ", "hidden"},
      {"tab\there\x01.txt", "tabhere.txt"},
      {"body.txt", "body (2).txt"},
      {"same.tar.gz", "same.tar.gz"},
      {"same.tar.gz", "same.tar (2).gz"},
      {"same.tar.gz", "same.tar (3).gz"},
      {longName, longName},
      {longName, std::string(247, 'n') + " (2).txt"},
  };
  std::vector<std::string> inMessage;
  for (const auto& n : names) inMessage.push_back(n.inMessage);
  const UnpackRun run = Unpack(MessageWithNames(inMessage));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  std::vector<std::string> expected = {Out() + "/body.txt"};
  for (const auto& n : names) expected.push_back(Out() + "/" + n.written);
  EXPECT_EQ(run.lines, expected);
  for (size_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(ReadFile(Out() + "/" + names[i].written), std::to_string(i)) << names[i].written;
  EXPECT_EQ(ReadFile(Out() + "/body.txt"), "The body.\r\n");
  // Nothing was written beside the folder.
  EXPECT_EQ(QDir(QString::fromStdString(Root())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            (QStringList{"message.eml", "out"}));
}

// Names the composer wrote as RFC 2231 parameters come out exactly, and a numbered copy of a
// long UTF-8 name is cut before a whole character.
TEST_F(UnpackTest, ComposedNonAsciiNamesComeOutExactly) {
  std::string longName;
  while (longName.size() < 249) longName += "\xe6\x9c\x88";
  longName += ".txt";  // 253 bytes
  TpxMessage message;
  message.Sender().SetAddress("ann@example.com");
  message.Body().Add("The body.");
  for (const std::string& name : {std::string("Rechnung M\xc3\xa4rz.txt"), longName, longName}) {
    auto item = std::make_unique<TpxAttItem>();
    item->SetFileName("/home/ann/" + name);
    item->Stream().Data() = name.substr(0, 3);
    message.Attachments().Add(std::move(item));
  }
  {
    TFileStream file(Root() + "/message.eml", TFileMode::fmCreate);
    message.SaveToStream(file);
  }
  const UnpackRun run = RunUnpack({Root() + "/message.eml", Out()});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const std::string numbered = longName.substr(0, 246) + " (2).txt";  // 82 whole characters, 254 bytes
  EXPECT_EQ(run.lines, (std::vector<std::string>{Out() + "/body.txt", Out() + "/Rechnung M\xc3\xa4rz.txt",
                                                 Out() + "/" + longName, Out() + "/" + numbered}));
  EXPECT_EQ(ReadFile(Out() + "/" + longName), longName.substr(0, 3));
}

// A part without a name is written under the parser's name and the extension of its type; a
// name the message gave is left as it is.
TEST_F(UnpackTest, UnnamedPartsGetTheExtensionOfTheirType) {
  const std::string text =
      "From: ann@example.com\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: multipart/alternative; boundary=\"a\"\r\n\r\n"
      "--a\r\nContent-Type: text/plain\r\n\r\nThe body.\r\n"
      "--a\r\nContent-Type: TEXT/HTML; charset=utf-8\r\n\r\n<p>html</p>\r\n--a--\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nnotes\r\n"
      "--b\r\nContent-Type: application/x-data\r\n\r\ndata\r\n"
      "--b\r\nContent-Type: text/html; name=\"page\"\r\n\r\nnamed\r\n--b--\r\n";
  const UnpackRun run = Unpack(text);
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.lines, (std::vector<std::string>{Out() + "/body.txt", Out() + "/_alt.0.html", Out() + "/att.1.txt",
                                                 Out() + "/att.2", Out() + "/page"}));
  EXPECT_EQ(ReadFile(Out() + "/_alt.0.html"), "<p>html</p>");
}

TEST_F(UnpackTest, FilesThatAreThereAreKept) {
  QDir(QString::fromStdString(Root())).mkdir("out");
  WriteFile(Out() + "/report.pdf", "keep");
  WriteFile(Root() + "/target", "target");
  ASSERT_TRUE(QFile::link(QString::fromStdString(Root() + "/target"), QString::fromStdString(Out() + "/link.txt")));
  const UnpackRun run = Unpack(MessageWithNames({"report.pdf", "link.txt"}));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.lines,
            (std::vector<std::string>{Out() + "/body.txt", Out() + "/report (2).pdf", Out() + "/link (2).txt"}));
  EXPECT_EQ(ReadFile(Out() + "/report.pdf"), "keep");
  EXPECT_EQ(ReadFile(Root() + "/target"), "target");
}

// Copies of one name are numbered in order, each number once, stepping over the names an
// earlier part took and those on disk.
TEST_F(UnpackTest, ManyPartsOfOneNameAreNumberedInOrder) {
  constexpr int kCopies = 1000;
  QDir(QString::fromStdString(Root())).mkdir("out");
  WriteFile(Out() + "/same (3).txt", "keep");
  std::vector<std::string> names = {"same (2).txt"};
  names.insert(names.end(), kCopies, "same.txt");
  const UnpackRun run = Unpack(MessageWithNames(names));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  std::vector<std::string> expected = {Out() + "/body.txt", Out() + "/same (2).txt", Out() + "/same.txt"};
  for (int n = 4; n < kCopies + 3; ++n) expected.push_back(Out() + "/same (" + std::to_string(n) + ").txt");
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(ReadFile(Out() + "/same (3).txt"), "keep");
  EXPECT_EQ(ReadFile(expected.back()), std::to_string(kCopies));
}

TEST_F(UnpackTest, AMessageTheParserCannotFollowIsKeptWhole) {
  const std::string text =
      "From: ann@example.com\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\nno parts\r\n";
  const UnpackRun run = Unpack(text);
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.lines, (std::vector<std::string>{Out() + "/body.txt", Out() + "/original.eml"}));
  EXPECT_EQ(ReadFile(Out() + "/original.eml"), text);
  EXPECT_NE(ReadFile(Out() + "/body.txt").find("\r\nCannot find boundary\r\n"), std::string::npos);
}

// A file that is no mail message is told as such, naming it; messages of any shape still unpack.
TEST_F(UnpackTest, WhatIsNoMessageIsTold) {
  const struct {
    const char* name;
    std::string text;
    const char* problem;  // nullptr: a message
  } files[] = {
      {"a picture", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "it holds binary data"},
      {"an empty file", "", "it is empty"},
      {"a text without a header", "Dear Ann,\n\nthe scans are attached.\n", "it does not begin with header fields"},
      {"a mailbox's From line first", "From ann@example.com Tue Dec  8 10:00:00 2026\nFrom: ann@example.com\n\nHi\n",
       nullptr},
      {"a field of its own first", "X-Scanner: 3\r\n\r\nHi\r\n", nullptr},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const std::string path = Root() + "/" + f.name;
    WriteFile(path, f.text);
    const UnpackRun run = RunUnpack({path, Out()});
    EXPECT_EQ(run.exitCode, f.problem ? 1 : 0) << run.errors;
    if (f.problem) {
      EXPECT_EQ(run.errors.rfind("mailcart-unpack: " + path + ": not a mail message: " + f.problem, 0), 0u)
          << run.errors;
    }
  }
}

// A second run into the same folder keeps what the first wrote, the body included.
TEST_F(UnpackTest, ASecondRunNumbersEveryFile) {
  ASSERT_EQ(Unpack(MessageWithNames({"a.txt"})).exitCode, 0);
  WriteFile(Out() + "/body.txt", "edited");
  const UnpackRun second = Unpack(MessageWithNames({"a.txt"}));
  ASSERT_EQ(second.exitCode, 0) << second.errors;
  EXPECT_EQ(second.lines, (std::vector<std::string>{Out() + "/body (2).txt", Out() + "/a (2).txt"}));
  EXPECT_EQ(ReadFile(Out() + "/body.txt"), "edited");
}

TEST_F(UnpackTest, WritesIntoTheCurrentFolderByDefault) {
  WriteFile(Root() + "/message.eml", MessageWithNames({"a.txt"}));
  const UnpackRun run = RunUnpack({"message.eml"}, Root());
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.lines, (std::vector<std::string>{"./body.txt", "./a.txt"}));
  EXPECT_EQ(ReadFile(Root() + "/a.txt"), "0");
}

}  // namespace
