// Messages written by Python's email package, unpacked by mailcart-unpack: every attachment
// must come out as the very bytes Python put in, under the name Python gave it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "support/python_referee.h"
#include "support/unpack_tool.h"

namespace {

QByteArray ReadFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

std::string BodyText(const QJsonArray& lines) {
  std::string text;
  for (const QJsonValue& line : lines) text += line.toString().toStdString() + "\r\n";
  return text;
}

TEST(ParserInteropTest, UnpacksWhatPythonWrote) {
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const std::string in = temp.path().toStdString() + "/in";
  RunPython(E2eScript("make_messages.py"), {in});
  const QJsonArray manifest = QJsonDocument::fromJson(ReadFile(in + "/manifest.json")).array();
  ASSERT_EQ(manifest.size(), 9);
  for (const QJsonValue& entry : manifest) {
    const QJsonObject message = entry.toObject();
    const std::string file = message["file"].toString().toStdString();
    SCOPED_TRACE(file);
    const std::string out = temp.path().toStdString() + "/out/" + file;
    const UnpackRun run = RunUnpack({in + "/" + file, out});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    std::vector<std::string> expectedLines = {out + "/body.txt"};
    for (const QJsonValue& attachment : message["attachments"].toArray()) {
      const std::string path = out + "/" + attachment["name"].toString().toStdString();
      expectedLines.push_back(path);
      EXPECT_EQ(ReadFile(path), QByteArray::fromBase64(attachment["data"].toString().toLatin1())) << path;
    }
    EXPECT_EQ(run.lines, expectedLines);
    EXPECT_EQ(ReadFile(out + "/body.txt").toStdString(), BodyText(message["body"].toArray()));
  }
}

}  // namespace
