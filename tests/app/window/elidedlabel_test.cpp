// The label that shows a long path by its ends.
#include "app/window/elidedlabel.h"

#include <gtest/gtest.h>

#include "app/window/windowtext.h"

namespace {

TEST(ElidedLabel, ALongPathKeepsItsFileNameAndItsWholeTextAsToolTip) {
  TElidedLabel label;
  label.setGeometry(0, 0, 160, 20);
  const QString path = "/home/someone/a/very/long/folder/that/goes/on/and/on/invoice-2026-12.pdf";
  label.SetFullText(path);
  const QString shown = label.ShownText();
  EXPECT_TRUE(shown.endsWith("12.pdf")) << shown.toStdString();
  EXPECT_TRUE(shown.startsWith("/h")) << shown.toStdString();
  EXPECT_LE(label.fontMetrics().horizontalAdvance(shown), label.contentsRect().width());
  EXPECT_EQ(label.toolTip(), ToolTipText(path));
  EXPECT_EQ(label.text(), path);
  label.SetFullText("short.txt");
  EXPECT_EQ(label.ShownText(), "short.txt");
}

}  // namespace
