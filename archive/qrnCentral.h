#pragma once
// One record of an archive's central directory, read the one way that the reader and the writer
// share: what an update keeps is then what a restore lists.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/qrnBase.h"

struct TCentralRecord {
  std::array<uint8_t, 46> Header{};  // deciphered when it was enciphered
  bool Enciphered = false;
  std::string StoredName;  // the name's bytes, deciphered
  // As far as the file holds them: a record cut short by the end of the file keeps its name.
  std::vector<uint8_t> Extra;
  std::vector<uint8_t> Comment;
  TExtraSizes Sizes;  // the header's 32-bit fields, those a Zip64 field holds taken from it
  TExtraHigh High;    // the high words that the extra field gives
  int64_t End = 0;    // where the record ends by its own lengths
};

// Reads the central header at Pos with its name, extra field and comment; false when no central
// header stands there or its name is cut short.
bool ReadCentralRecord(TStream32& Stream, int64_t Pos, TCentralRecord& Record);

// Where the entry's local header lies: its stored offset moved by Shift, the length of a prefix
// that the offsets do not count. A 32-bit offset wraps as stored.
inline int64_t ShiftedLocalOffset(const TCentralRecord& Record, uint32_t Shift) {
  const uint32_t low = Record.Sizes.LocalHeaderOffset;
  if (Record.High.OffsetHigh == 0) return int64_t{static_cast<uint32_t>(low + Shift)};
  return static_cast<int64_t>((uint64_t{Record.High.OffsetHigh} << 32) | low) + Shift;
}
