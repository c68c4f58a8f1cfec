#pragma once
// String resources (RT_STRING) of a PE program file, read from its resource section without
// loading the program. A file that is no valid PE image has none. Every offset and size of the
// image is checked against the file before it is used.
#include <cstdint>
#include <optional>
#include <string>

class TStream32;

class TPeStringResources {
 public:
  // Reads the image's headers and finds its string tables; false when it has none.
  bool Load(TStream32& Stream);
  // The string with identifier Id, cut to MaxChars UTF-16 units; nullopt when the image has no
  // such string (an empty string and a missing one both count as none, as LoadString has it).
  std::optional<std::u16string> LoadString(uint32_t Id, size_t MaxChars) const;

 private:
  TStream32* FStream = nullptr;
  int64_t FSize = 0;
  int64_t FTypeDir = -1;  // file offset of the RT_STRING name directory
  int64_t FResBase = 0;   // file offset of the resource section's root directory
  uint32_t FResRva = 0;
  struct Section {
    uint32_t Va, RawSize, RawPtr;
  };
  static constexpr size_t kMaxSections = 96;  // the loader's own limit
  Section FSections[kMaxSections]{};
  size_t FSectionCount = 0;

  int64_t RvaToOffset(uint32_t Rva, uint32_t Length) const;
  bool ReadAt(int64_t Pos, void* Buffer, int32_t Count) const;
  // File offset of the entry of directory Dir (a file offset) with the numeric Id, or, when
  // Id is negative, of its first entry; -1 when none.
  int64_t FindEntry(int64_t Dir, int64_t Id, uint32_t& Target) const;
};
