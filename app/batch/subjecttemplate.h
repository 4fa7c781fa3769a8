// A subject with fields filled in for each file of a batch, so that one batch can tell its
// messages apart: "Scan {n} of {count}: {name}".
#pragma once

#include <string>
#include <string_view>

struct TSubjectFields {
  std::string name;  // {name}: the file's name, without its folder
  int number = 0;    // {n}: the file's place in the batch, from 1
  int count = 0;     // {count}: the files of the batch
  std::string date;  // {date}: the day of sending, "2026-12-08"
};

// "{{" and "}}" write a brace; an unknown field and a lone brace stay as they stand, so a
// subject without fields is sent exactly as typed.
std::string FillSubject(std::string_view subject, const TSubjectFields& fields);

// Today in local time, as {date} shows it.
std::string TodayIsoDate();

// The fields of the file at path, at index (from 0) of count files, sent today.
TSubjectFields SubjectFieldsOf(const std::string& path, size_t index, size_t count);
