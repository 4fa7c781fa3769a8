// An ordered list of byte-string lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TStream;

class TStringList {
 public:
  TStringList() = default;
  virtual ~TStringList() = default;
  TStringList(const TStringList&) = default;
  TStringList& operator=(const TStringList&) = default;

  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // Index outside 0..Count-1 raises EListError.
  const std::string& operator[](int index) const;
  std::string& operator[](int index);
  const std::string& Strings(int index) const { return (*this)[index]; }
  void Put(int index, std::string s) { (*this)[index] = std::move(s); }

  int Add(std::string s);
  void Insert(int index, std::string s);
  void Delete(int index);
  void Clear() { lines_.clear(); }
  int IndexOf(std::string_view s) const;  // case-insensitive, as the toolkit's lists compare
  void Assign(const TStringList& source) { lines_ = source.lines_; }
  void AddStrings(const TStringList& source);

  // Every line followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, a lone LF or a lone CR; a last line without a line end counts; a NUL byte
  // ends the text.
  void SetText(std::string_view text);
  // The same split, with a NUL kept as any other byte: for decoded data, which may hold one.
  void SetWholeText(std::string_view text);
  void LoadFromStream(TStream& stream);  // from the stream's position to its end
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  // Ascending by the locale's case-insensitive comparison.
  void Sort();

  std::vector<std::string>::const_iterator begin() const { return lines_.begin(); }
  std::vector<std::string>::const_iterator end() const { return lines_.end(); }
  const std::vector<std::string>& Lines() const { return lines_; }

  bool operator==(const TStringList& o) const { return lines_ == o.lines_; }

 private:
  void CheckIndex(int index) const;
  std::vector<std::string> lines_;
};

// Writes every line followed by CR LF into a new or emptied file; failures raise EInOutError.
void SaveLinesToFile(const TStringList& lines, const std::string& fileName);
