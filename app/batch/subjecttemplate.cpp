#include "app/batch/subjecttemplate.h"

#include <ctime>
#include <filesystem>

namespace {

// The value of the field whose name starts text (after its "{"), and the name's length with
// its "}"; false when text does not start with a known field.
bool FieldAt(std::string_view text, const TSubjectFields& fields, std::string& value, size_t& length) {
  const size_t close = text.find('}');
  if (close == std::string_view::npos) return false;
  const std::string_view name = text.substr(0, close);
  if (name == "name")
    value = fields.name;
  else if (name == "n")
    value = std::to_string(fields.number);
  else if (name == "count")
    value = std::to_string(fields.count);
  else if (name == "date")
    value = fields.date;
  else
    return false;
  length = close + 1;
  return true;
}

}  // namespace

std::string FillSubject(std::string_view subject, const TSubjectFields& fields) {
  std::string filled;
  filled.reserve(subject.size());
  for (size_t i = 0; i < subject.size(); ++i) {
    const char c = subject[i];
    const bool doubled = i + 1 < subject.size() && subject[i + 1] == c;
    if ((c == '{' || c == '}') && doubled) {
      filled += c;
      ++i;
      continue;
    }
    std::string value;
    size_t length = 0;
    if (c == '{' && FieldAt(subject.substr(i + 1), fields, value, length)) {
      filled += value;
      i += length;
      continue;
    }
    filled += c;
  }
  return filled;
}

std::string TodayIsoDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

TSubjectFields SubjectFieldsOf(const std::string& path, size_t index, size_t count) {
  return {std::filesystem::path(path).filename().string(), static_cast<int>(index) + 1, static_cast<int>(count),
          TodayIsoDate()};
}
