// The task store over arbitrary bytes as records.dat: loaded, written again and loaded again
// without a crash; the second load equals the first, and writing it again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "manager/TaskTable.h"
#include "platform/codepage.h"

namespace {

// What a rewrite of the store puts on disk for table.
std::string StoreBytes(const TTaskTable& table, int32_t count) {
  // A value the store loaded can always be written back: no exception, no refused character.
  const std::optional<std::string> bytes = platform::Utf8ToCp1251(TaskStoreText(table, count, false));
  if (!bytes) std::abort();
  return *bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every value costs a code page conversion; larger stores add nothing but time.
  if (size > (1u << 14)) return 0;
  TTaskTable first;
  int32_t firstCount = 0;
  ParseTaskStore(std::string_view(reinterpret_cast<const char*>(data), size), first, firstCount);
  const std::string saved = StoreBytes(first, firstCount);

  TTaskTable second;
  int32_t secondCount = 0;
  ParseTaskStore(saved, second, secondCount);
  if (secondCount != firstCount) std::abort();
  for (int32_t t = 1; t < firstCount; ++t) {
    for (int32_t f = TaskName; f <= Deleted; ++f) {
      if (first(f, t) != second(f, t)) std::abort();
    }
  }
  if (StoreBytes(second, secondCount) != saved) std::abort();
  return 0;
}
