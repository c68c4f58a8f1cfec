#pragma once
// The records of an archive's entries read, walked and judged the one way that the reader and the
// writer share: a central record, a local header, where a member ends, and whether a local
// header agrees with its directory record. What an update keeps is then what a restore lists,
// and an archive the reader fails is one that an update refuses.
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
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

// What the reader reports of an entry or an archive, and an update refuses the archive for, in
// the same words.
inline constexpr const char* kDirectoryMissing = "the archive's central directory is missing";
inline constexpr const char* kNoLocalHeader = "no local header stands where its directory record says";
inline constexpr const char* kPastDirectory = "its local header lies past the start of the directory";
inline constexpr const char* kOverlapping = "its data overlaps another entry's";
inline constexpr const char* kArchiveInFront =
    "another archive stands before its entries, and tools that read from the front take that one";

// Whether a record of one of Kinds (plain or enciphered) begins at Pos.
bool RecordAt(TStream32& Stream, int64_t Pos, std::initializer_list<int32_t> Kinds);

// Where the first local header signature that ends before Until stands in the first 128 KB of
// the file; -1 when none.
int64_t FirstLocalSignature(TStream32& Stream, int64_t Until);

// One local header with its name and extra field.
struct TLocalRecord {
  std::array<uint8_t, 30> Header{};  // deciphered when it was enciphered
  bool Enciphered = false;
  std::string StoredName;  // the name's bytes, deciphered
  std::vector<uint8_t> Extra;
  TExtraSizes Sizes;  // the header's 32-bit fields, those a Zip64 field holds taken from it
  TExtraHigh High;    // the high words that the extra field gives
  // A standard Zip64 field: a descriptor after the data then holds 64-bit sizes.
  bool Zip64 = false;
  int64_t Pos = 0;        // where the header begins
  int64_t DataStart = 0;  // where its data begins, after the name and the extra field

  uint16_t Flags() const;
  uint16_t Method() const;
  uint32_t Crc() const;
  int64_t PackedSize() const;
  int64_t UnpackedSize() const;
};

// Reads the local header at Pos with its name and extra field; false when no local header stands
// there or it is cut off by the end of the stream.
bool ReadLocalRecord(TStream32& Stream, int64_t Pos, TLocalRecord& Record);

// Where the member of Record ends when its data holds Packed bytes: after the data, or after the
// data descriptor that follows it (flag bit 3). A descriptor's signature is optional and its sizes
// are 32- or 64-bit: its length is the one after which the next record, or the end of the stream,
// stands. -1 when the member runs past the end or no length fits.
int64_t MemberEnd(TStream32& Stream, const TLocalRecord& Record, int64_t Packed);

// Where the walk over local headers goes on after the member of Record: after its data and its
// descriptor, by the local header's own sizes; -1 when that cannot be told (a member whose sizes
// wait in its descriptor, and the local header holds none).
int64_t NextLocalHeader(TStream32& Stream, const TLocalRecord& Record);

// The one walk over the local headers of an archive read without its directory: from Start,
// member after member, each stepped over by its own sizes, never by looking for the next
// signature, so that no member inside another member's data is taken. Visit sees each local
// header read (whole or not: Whole false for one cut off by the end of the stream) and returns
// whether the walk goes on. The result is where the walk ended: where no local header stands,
// or -1 after a member whose end cannot be told.
using TLocalVisit = std::function<bool(const TLocalRecord& Record, bool Whole)>;
int64_t WalkLocalHeaders(TStream32& Stream, int64_t Start, const TLocalVisit& Visit);

// The one check of a local header against the directory record of its entry (Central, with its
// name's bytes and its 64-bit sizes): nullptr when they agree, else what differs, as the reports
// name it. Flag bit 3 puts the CRC and the sizes after the data: the local fields then count for
// nothing, as other tools read them. A local header without a Zip64 field holds the low 32 bits
// of each size, as this engine's writer once wrote entries that packed past 4 GiB.
const char* LocalRecordDisagreement(const TLocalRecord& Local, const std::array<uint8_t, 46>& Central,
                                    const std::string& CentralName, int64_t Packed, int64_t Unpacked);
