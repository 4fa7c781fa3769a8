// Text at the window's edge: the program's byte strings become Qt text and back in the locale's
// 8-bit encoding (UTF-8 here), in one place.
#pragma once

#include <QString>

#include <string>

inline QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }
inline std::string Bytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

// A tool tip that shows plain text whole: escaped, since a tip that looks like markup (a
// server's "<ann@example.org>") is read as markup and loses what looks like a tag, and as rich
// text, which a tip wraps instead of running past the screen's edge.
inline QString ToolTipText(const QString& plain) {
  return plain.isEmpty() ? plain : "<p style='white-space:pre-wrap'>" + plain.toHtmlEscaped() + "</p>";
}
