#include "manager/TaskTable.h"

#include <algorithm>
#include <stdexcept>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace {

constexpr char kFieldEnd = '|';
constexpr char kRecordEnd = '@';

void CheckStorable(const std::string& text) {
  if (!IsStorableTaskText(text)) {
    throw EInOutError("The task field \"" + text.substr(0, 200) +
                          "\" holds characters that the task store cannot keep; nothing was written",
                      0);
  }
}

}  // namespace

std::string& TTaskTable::operator()(int32_t field, int32_t task) {
  if (field < 1 || field > kTaskFields || task < 1) throw std::out_of_range("task table: no such field or task");
  if (static_cast<size_t>(task) > FTasks.size()) FTasks.resize(static_cast<size_t>(task));
  return FTasks[static_cast<size_t>(task - 1)][static_cast<size_t>(field - 1)];
}

const std::string& TTaskTable::operator()(int32_t field, int32_t task) const {
  static const std::string kEmpty;
  if (field < 1 || field > kTaskFields || task < 1) throw std::out_of_range("task table: no such field or task");
  if (static_cast<size_t>(task) > FTasks.size()) return kEmpty;
  return FTasks[static_cast<size_t>(task - 1)][static_cast<size_t>(field - 1)];
}

std::string TrimmedTaskValue(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

bool IsStorableTaskText(const std::string& text) {
  if (text.find(kFieldEnd) != std::string::npos || text.find(kRecordEnd) != std::string::npos) return false;
  return platform::Utf8ToCp1251(text).has_value();
}

std::string UnstorableTaskCharacters(const std::string& text) {
  std::vector<std::string> found;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string c = text.substr(i, length);
    i += length;
    if (IsStorableTaskText(c) || std::find(found.begin(), found.end(), c) != found.end()) continue;
    found.push_back(c);
  }
  std::string list;
  for (const auto& c : found) list += (list.empty() ? "\"" : " \"") + c + "\"";
  return list;
}

std::string UnstorableTaskTextMessage(const std::string& field, const std::string& text) {
  return "Поле \"" + field + "\" содержит знаки, которые нельзя сохранить в списке задач: " +
         UnstorableTaskCharacters(text) + ". Допустимы знаки кодовой страницы Windows-1251, кроме \"|\" и \"@\".";
}

void ParseTaskStore(std::string_view bytes, TTaskTable& table, int32_t& count) {
  int32_t field = 1;
  int32_t task = 1;
  std::string value;
  auto store = [&] {
    // A record with more than 12 fields is outside the format: its extra values are dropped
    // rather than written over the deletion mark.
    if (field <= kStoredTaskFields) table(field, task) = platform::Cp1251ToUtf8(TrimmedTaskValue(value));
    value.clear();
  };
  for (const char c : bytes) {
    if (c == kFieldEnd) {
      store();
      ++field;
    } else if (c == kRecordEnd) {
      store();
      field = 1;
      ++task;
    } else {
      value += c;
    }
  }
  count = task;
  for (int32_t t = 1; t < count; ++t) table(Deleted, t) = "0";
}

std::string TaskRecordText(const TTaskRecord& record) {
  std::string text;
  for (int32_t f = 1; f <= kStoredTaskFields; ++f) {
    const std::string& value = record[static_cast<size_t>(f - 1)];
    CheckStorable(value);
    text += value;
    text += f < kStoredTaskFields ? kFieldEnd : kRecordEnd;
  }
  return text;
}

std::string TaskStoreText(const TTaskTable& table, int32_t count, bool keptOnly) {
  std::string text;
  for (int32_t t = 1; t < count; ++t) {
    if (keptOnly && table(Deleted, t) != "0") continue;
    TTaskRecord record;
    for (int32_t f = 1; f <= kStoredTaskFields; ++f) record[static_cast<size_t>(f - 1)] = table(f, t);
    text += TaskRecordText(record);
  }
  return text;
}
