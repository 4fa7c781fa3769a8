#include "toolkit/streams.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/files.h"
#include "toolkit/exceptions.h"

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
  TMemoryStream m;
  m.WriteString("hello world");
  EXPECT_EQ(m.Position(), 11);
  m.SetPosition(6);
  m.WriteString("there!");  // overwrites and grows
  EXPECT_EQ(m.Data(), "hello there!");
  m.Seek(-6, TSeekOrigin::soEnd);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, 16), 6);  // a short read at the end
  EXPECT_EQ(std::string(buf, 6), "there!");
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EStreamError);

  m.SetSize(5);
  EXPECT_EQ(m.Position(), 5);  // a position past the new end moves back
  m.SetSize(-3);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Read(buf, 4), 0);  // no read before the buffer
  m.SetPosition(3);
  m.WriteString("x");  // writing past the end fills the gap with zeros
  EXPECT_EQ(m.Data(), std::string("\0\0\0x", 4));
}

TEST(Streams, FileStreamErrorsNameTheFile) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  struct Case {
    const char* name;
    std::string path;
    TFileMode mode;
    bool create;
  };
  const Case cases[] = {
      {"open a missing file", base + "/missing.txt", TFileMode::fmOpenRead, false},
      {"open a directory", base, TFileMode::fmOpenReadWrite, false},
      {"create in a missing folder", base + "/no/such.txt", TFileMode::fmCreate, true},
      {"create anew where a file is", base + "/kept.txt", TFileMode::fmCreateNew, true},
  };
  WriteFile(base + "/kept.txt", "kept");
  for (const Case& c : cases) {
    try {
      TFileStream f(c.path, c.mode);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const EFCreateError& e) {
      EXPECT_TRUE(c.create) << c.name;
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << c.name << ": " << e.what();
    } catch (const EFOpenError& e) {
      EXPECT_FALSE(c.create) << c.name;
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << c.name << ": " << e.what();
    }
  }
  EXPECT_EQ(ReadFile(base + "/kept.txt"), "kept");
}

TEST(Streams, FileStreamRoundTripAndCopyFrom) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("data.bin").toStdString();
  std::string data(200000, '\0');  // several copy blocks
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  {
    TMemoryStream source(data);
    source.Seek(0, TSeekOrigin::soEnd);
    TFileStream out(path, TFileMode::fmCreate);
    EXPECT_EQ(out.CopyFrom(source, 0), 200000);  // count 0: the whole source from its start
  }
  TFileStream in(path, TFileMode::fmOpenRead);
  EXPECT_EQ(in.Size(), 200000);
  in.SetPosition(100);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(in, 70000), 70000);  // from the source's position
  EXPECT_EQ(part.Data(), data.substr(100, 70000));
  EXPECT_THROW(part.CopyFrom(in, 200000), EStreamError);  // more than is left
  EXPECT_EQ(part.CopyFrom(in, -1), 0);
}
