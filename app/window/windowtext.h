// Text at the window's edge: the program's byte strings become Qt text and back in the locale's
// 8-bit encoding (UTF-8 here), in one place.
#pragma once

#include <QString>

#include <string>

inline QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }
inline std::string Bytes(const QString& text) { return text.toLocal8Bit().toStdString(); }
