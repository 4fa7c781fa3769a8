#include "toolkit/stringlist.h"

#include <algorithm>
#include <cstring>

#include "toolkit/exceptions.h"
#include "toolkit/streams.h"
#include "toolkit/strutils.h"

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw ListIndexError(index);
}

const std::string& TStringList::operator[](int index) const {
  CheckIndex(index);
  return lines_[static_cast<size_t>(index)];
}

std::string& TStringList::operator[](int index) {
  CheckIndex(index);
  return lines_[static_cast<size_t>(index)];
}

int TStringList::Add(std::string s) {
  lines_.push_back(std::move(s));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string s) {
  if (index < 0 || index > Count()) throw ListIndexError(index);
  lines_.insert(lines_.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  lines_.erase(lines_.begin() + index);
}

int TStringList::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(lines_[static_cast<size_t>(i)], s)) return i;
  return -1;
}

void TStringList::AddStrings(const TStringList& source) {
  lines_.insert(lines_.end(), source.lines_.begin(), source.lines_.end());
}

std::string TStringList::Text() const {
  size_t total = 0;
  for (const auto& l : lines_) total += l.size() + 2;
  std::string r;
  r.reserve(total);
  for (const auto& l : lines_) {
    r += l;
    r += "\r\n";
  }
  return r;
}

void TStringList::SetText(std::string_view text) { SetWholeText(text.substr(0, text.find('\0'))); }

void TStringList::SetWholeText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t p = start;
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
    lines_.emplace_back(text.substr(start, p - start));
    if (p < text.size() && text[p] == '\r') {
      ++p;
      if (p < text.size() && text[p] == '\n') ++p;
    } else if (p < text.size()) {
      ++p;  // a lone LF
    }
    start = p;
  }
}

void TStringList::LoadFromStream(TStream& stream) { SetText(stream.ReadAll()); }

void TStringList::SaveToStream(TStream& stream) const { stream.WriteString(Text()); }

void TStringList::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  LoadFromStream(file);
}

void TStringList::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, TFileMode::fmCreate);
  SaveToStream(file);
}

void TStringList::Sort() {
  std::stable_sort(lines_.begin(), lines_.end(),
                   [](const std::string& a, const std::string& b) { return CompareTextLocale(a, b) < 0; });
}

void SaveLinesToFile(const TStringList& lines, const std::string& fileName) {
  try {
    lines.SaveToFile(fileName);
  } catch (const EInOutError&) {
    throw;
  } catch (const EStreamError& e) {
    throw EInOutError(e.Message());
  }
}
