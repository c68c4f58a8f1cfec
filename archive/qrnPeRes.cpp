#include "archive/qrnPeRes.h"

#include <algorithm>
#include <span>
#include <vector>

#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"

namespace {

constexpr uint32_t kRtString = 6;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
// A directory holds at most 65535 named and 65535 numbered entries; no real one comes near.
constexpr uint32_t kMaxDirectoryEntries = 4096;

}  // namespace

bool TPeStringResources::ReadAt(int64_t Pos, void* Buffer, int32_t Count) const {
  if (!FStream || Pos < 0 || Count < 0 || Pos > FSize || FSize - Pos < Count) return false;
  try {
    if (FStream->Seek(Pos, soBeginning) != Pos) return false;
    return FStream->Read(Buffer, Count) == Count;
  } catch (...) {
    return false;
  }
}

int64_t TPeStringResources::RvaToOffset(uint32_t Rva, uint32_t Length) const {
  for (size_t i = 0; i < FSectionCount; ++i) {
    const Section& s = FSections[i];
    if (Rva < s.Va) continue;
    const uint64_t delta = uint64_t{Rva} - s.Va;
    // Only bytes present in the file count: the zero fill past the raw data holds no resource.
    if (delta >= s.RawSize || s.RawSize - delta < Length) continue;
    const int64_t at = int64_t{s.RawPtr} + static_cast<int64_t>(delta);
    if (at > FSize || FSize - at < Length) return -1;
    return at;
  }
  return -1;
}

bool TPeStringResources::Load(TStream32& Stream) {
  FStream = &Stream;
  FTypeDir = -1;
  FSectionCount = 0;
  try {
    FSize = Stream.Size();
  } catch (...) {
    return false;
  }
  uint8_t dos[64];
  if (!ReadAt(0, dos, 64) || dos[0] != 'M' || dos[1] != 'Z') return false;
  const int64_t pe = GetLE32(dos, 0x3C);
  uint8_t coff[24];
  if (!ReadAt(pe, coff, 24) || coff[0] != 'P' || coff[1] != 'E' || coff[2] != 0 || coff[3] != 0) return false;
  const uint16_t sections = GetLE16(coff, 6);
  const uint16_t optSize = GetLE16(coff, 20);
  std::vector<uint8_t> opt(optSize);
  if (optSize < 2 || !ReadAt(pe + 24, opt.data(), optSize)) return false;
  size_t countAt = 0;
  switch (GetLE16(opt, 0)) {
    case kPe32Magic: countAt = 92; break;
    case kPe32PlusMagic: countAt = 108; break;
    default: return false;
  }
  const size_t dirAt = countAt + 4 + 8 * kResourceDirectoryIndex;
  if (opt.size() < dirAt + 8 || GetLE32(opt, countAt) <= kResourceDirectoryIndex) return false;
  FResRva = GetLE32(opt, dirAt);
  if (FResRva == 0 || sections == 0) return false;

  const int64_t table = pe + 24 + optSize;
  for (uint16_t i = 0; i < sections && FSectionCount < kMaxSections; ++i) {
    uint8_t h[40];
    if (!ReadAt(table + 40 * int64_t{i}, h, 40)) return false;
    FSections[FSectionCount++] = {GetLE32(h, 12), GetLE32(h, 16), GetLE32(h, 20)};
  }
  FResBase = RvaToOffset(FResRva, 16);
  if (FResBase < 0) return false;
  uint32_t target = 0;
  if (FindEntry(FResBase, kRtString, target) < 0 || !(target & kSubdirectoryBit)) return false;
  FTypeDir = FResBase + (target & ~kSubdirectoryBit);
  return true;
}

int64_t TPeStringResources::FindEntry(int64_t Dir, int64_t Id, uint32_t& Target) const {
  uint8_t head[16];
  if (!ReadAt(Dir, head, 16)) return -1;
  const uint32_t named = GetLE16(head, 12);
  const uint32_t numbered = GetLE16(head, 14);
  const uint32_t total = named + numbered;
  if (total == 0) return -1;
  // Named entries come first; a numeric identifier is only looked for among the numbered ones.
  const uint32_t first = Id < 0 ? 0 : named;
  const uint32_t count = std::min(total - first, kMaxDirectoryEntries);
  if (count == 0) return -1;
  std::vector<uint8_t> entries(size_t{count} * 8);
  const int64_t at = Dir + 16 + int64_t{first} * 8;
  if (!ReadAt(at, entries.data(), static_cast<int32_t>(entries.size()))) return -1;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t name = GetLE32(entries, size_t{i} * 8);
    if (Id >= 0 && ((name & kSubdirectoryBit) || name != Id)) continue;
    Target = GetLE32(entries, size_t{i} * 8 + 4);
    return at + int64_t{i} * 8;
  }
  return -1;
}

std::optional<std::u16string> TPeStringResources::LoadString(uint32_t Id, size_t MaxChars) const {
  if (FTypeDir < 0 || Id > 0xFFFF) return std::nullopt;
  // Strings live in blocks of 16; block n holds the identifiers (n - 1) * 16 to n * 16 - 1.
  uint32_t target = 0;
  if (FindEntry(FTypeDir, (Id >> 4) + 1, target) < 0 || !(target & kSubdirectoryBit)) return std::nullopt;
  const int64_t langDir = FResBase + (target & ~kSubdirectoryBit);
  // No locale to choose by here: the first language present serves.
  if (FindEntry(langDir, -1, target) < 0 || (target & kSubdirectoryBit)) return std::nullopt;
  uint8_t data[16];
  if (!ReadAt(FResBase + target, data, 16)) return std::nullopt;
  const uint32_t size = GetLE32(data, 4);
  const int64_t block = RvaToOffset(GetLE32(data, 0), size);
  if (block < 0) return std::nullopt;

  int64_t pos = block;
  const int64_t end = block + size;
  for (uint32_t i = 0; i <= (Id & 15); ++i) {
    uint8_t len[2];
    if (end - pos < 2 || !ReadAt(pos, len, 2)) return std::nullopt;
    pos += 2;
    const int64_t chars = GetLE16(len, 0);
    if ((end - pos) / 2 < chars) return std::nullopt;
    if (i < (Id & 15)) {
      pos += 2 * chars;
      continue;
    }
    if (chars == 0) return std::nullopt;
    const size_t n = std::min<size_t>(static_cast<size_t>(chars), MaxChars);
    std::vector<uint8_t> raw(n * 2);
    if (!ReadAt(pos, raw.data(), static_cast<int32_t>(raw.size()))) return std::nullopt;
    std::u16string s(n, u'\0');
    for (size_t k = 0; k < n; ++k) s[k] = static_cast<char16_t>(GetLE16(raw, 2 * k));
    return s;
  }
  return std::nullopt;
}
