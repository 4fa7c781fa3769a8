#include "toolkit/componentstream.h"

#include <cctype>

#include "toolkit/streams.h"
#include "toolkit/stringlist.h"
#include "toolkit/strutils.h"

namespace {

std::string Quote(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 32 || c >= 127) {
      r += HexEscape(c);
    } else {
      r += static_cast<char>(c);
    }
  }
  return r + "\"";
}

std::string ValueText(const TPropValue& v) {
  switch (v.kind) {
    case TPropValue::Kind::Integer: return std::to_string(v.integer);
    case TPropValue::Kind::String: return Quote(v.text);
    case TPropValue::Kind::Boolean: return v.boolean ? "True" : "False";
    case TPropValue::Kind::Ident: return v.text;
    case TPropValue::Kind::List: {
      std::string r = "(";
      for (size_t i = 0; i < v.list.size(); ++i) r += (i ? " " : "") + ValueText(v.list[i]);
      return r + ")";
    }
  }
  return {};
}

class TextWriter : public TPropertyWriter {
 public:
  std::string text;
  void Property(const std::string& name, const TPropValue& value) override {
    text += "  " + name + " = " + ValueText(value) + "\n";
  }
};

// Parses one value from text at pos.
class ValueParser {
 public:
  ValueParser(const std::string& text, int lineNo) : s_(text), line_(lineNo) {}

  TPropValue Parse() {
    TPropValue v = Value();
    SkipBlanks();
    if (pos_ != s_.size()) Fail();
    return v;
  }

 private:
  [[noreturn]] void Fail() const {
    throw EReadError("Invalid property value in component stream, line " + std::to_string(line_));
  }
  void SkipBlanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }
  TPropValue Value() {
    SkipBlanks();
    if (pos_ >= s_.size()) Fail();
    const char c = s_[pos_];
    if (c == '"') return TPropValue::Str(String());
    if (c == '(') {
      ++pos_;
      std::vector<TPropValue> items;
      for (;;) {
        SkipBlanks();
        if (pos_ >= s_.size()) Fail();
        if (s_[pos_] == ')') {
          ++pos_;
          return TPropValue::List(std::move(items));
        }
        items.push_back(Value());
      }
    }
    const size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] != ' ' && s_[pos_] != ')' && s_[pos_] != '(') ++pos_;
    const std::string word = s_.substr(start, pos_ - start);
    long long n;
    if (TryStrToInt(word, n)) return TPropValue::Int(n);
    if (word == "True") return TPropValue::Bool(true);
    if (word == "False") return TPropValue::Bool(false);
    if (word.empty()) Fail();
    return TPropValue::Ident(word);
  }
  std::string String() {
    std::string r;
    ++pos_;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c == '\\') {
        if (pos_ >= s_.size()) Fail();
        c = s_[pos_++];
        if (c == 'x') {
          uint64_t v;
          if (pos_ + 2 > s_.size() || !TryHexToInt(s_.substr(pos_, 2), v)) Fail();
          c = static_cast<char>(v);
          pos_ += 2;
        }
      }
      r += c;
    }
    if (pos_ >= s_.size()) Fail();
    ++pos_;
    return r;
  }

  const std::string& s_;
  size_t pos_ = 0;
  int line_;
};

void SetProperty(TPersistent& target, const std::string& name, const TPropValue& value, int lineNo) {
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    TPersistent* sub = target.SubObject(name.substr(0, dot));
    if (sub != nullptr) return SetProperty(*sub, name.substr(dot + 1), value, lineNo);
  } else if (target.ReadProperty(name, value)) {
    return;
  }
  throw EReadError("Property " + name + " does not exist (component stream, line " + std::to_string(lineNo) + ")");
}

}  // namespace

std::string ComponentToText(const TComponent& component) {
  TextWriter writer;
  struct NoName : TPropertyWriter {
    TPropertyWriter& outer;
    explicit NoName(TPropertyWriter& o) : outer(o) {}
    void Property(const std::string& n, const TPropValue& v) override {
      if (n != "Name") outer.Property(n, v);  // the name stands in the object line
    }
  } noName(writer);
  component.WriteProperties(noName);
  return "object " + component.Name() + ": " + component.ClassName() + "\n" + writer.text + "end\n";
}

void WriteComponent(TStream& stream, const TComponent& component) { stream.WriteString(ComponentToText(component)); }

void ComponentFromText(const std::string& text, TComponent& component) {
  TStringList lines;
  lines.SetText(text);
  int lineNo = 0;
  bool begun = false, ended = false;
  component.SetLoading(true);
  try {
    for (const std::string& raw : lines) {
      ++lineNo;
      const std::string line = Trim(raw);
      if (line.empty()) continue;
      if (ended) throw EReadError("Text after end of component stream, line " + std::to_string(lineNo));
      if (!begun) {
        // "object Name: Class"
        if (!StartsStr("object ", line) || line.find(':') == std::string::npos)
          throw EReadError("Component stream must begin with an object line");
        const std::string name = Trim(line.substr(7, line.find(':') - 7));
        if (!name.empty()) component.SetName(name);
        begun = true;
        continue;
      }
      if (line == "end") {
        ended = true;
        continue;
      }
      const size_t eq = line.find(" = ");
      if (eq == std::string::npos) throw EReadError("Invalid component stream line " + std::to_string(lineNo));
      SetProperty(component, line.substr(0, eq), ValueParser(line.substr(eq + 3), lineNo).Parse(), lineNo);
    }
    if (!ended) throw EReadError("Component stream has no end");
  } catch (...) {
    component.SetLoading(false);
    throw;
  }
  component.SetLoading(false);
  component.Loaded();
}

void ReadComponent(TStream& stream, TComponent& component) { ComponentFromText(stream.ReadAll(), component); }
