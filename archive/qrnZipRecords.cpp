#include "archive/qrnZipRecords.h"

#include <algorithm>
#include <span>

#include "archive/qrnEndian.h"

namespace {
std::span<const uint8_t> Bounded(const uint8_t* Data, size_t Size) {
  return Data ? std::span<const uint8_t>(Data, Size) : std::span<const uint8_t>();
}
}  // namespace

bool HasExtraBlock(const uint8_t* Extra, size_t Size, std::initializer_list<uint16_t> Tags) {
  const auto s = Bounded(Extra, Size);
  for (size_t at = 0; at + 4 <= s.size(); at += 4 + size_t{GetLE16(s, at + 2)}) {
    const uint16_t tag = GetLE16(s, at);
    if (std::find(Tags.begin(), Tags.end(), tag) != Tags.end()) return true;
  }
  return false;
}

bool HasUnixExtraBlock(const uint8_t* Extra, size_t Size) {
  return HasExtraBlock(Extra, Size, {0x5855, 0x7875, 0x000D, 0x756E});
}

std::array<uint8_t, TLocalHeader::kSize> TLocalHeader::Encode() const {
  std::array<uint8_t, kSize> b{};
  PutLE32(b, 0, Signature);
  PutLE16(b, 4, VersionNeeded);
  PutLE16(b, 6, Flags);
  PutLE16(b, 8, Method);
  PutLE32(b, 10, DosDateTime);
  PutLE32(b, 14, Crc32);
  PutLE32(b, 18, PackedSize);
  PutLE32(b, 22, UnpackedSize);
  PutLE16(b, 26, NameLength);
  PutLE16(b, 28, ExtraLength);
  return b;
}

std::optional<TLocalHeader> TLocalHeader::Decode(const uint8_t* Data, size_t Size) {
  const auto s = Bounded(Data, Size);
  if (s.size() < kSize) return std::nullopt;
  TLocalHeader h;
  h.Signature = GetLE32(s, 0);
  h.VersionNeeded = GetLE16(s, 4);
  h.Flags = GetLE16(s, 6);
  h.Method = GetLE16(s, 8);
  h.DosDateTime = GetLE32(s, 10);
  h.Crc32 = GetLE32(s, 14);
  h.PackedSize = GetLE32(s, 18);
  h.UnpackedSize = GetLE32(s, 22);
  h.NameLength = GetLE16(s, 26);
  h.ExtraLength = GetLE16(s, 28);
  return h;
}

std::array<uint8_t, TCentralHeader::kSize> TCentralHeader::Encode() const {
  std::array<uint8_t, kSize> b{};
  PutLE32(b, 0, Signature);
  PutLE16(b, 4, VersionMadeBy);
  PutLE16(b, 6, VersionNeeded);
  PutLE16(b, 8, Flags);
  PutLE16(b, 10, Method);
  PutLE32(b, 12, DosDateTime);
  PutLE32(b, 16, Crc32);
  PutLE32(b, 20, PackedSize);
  PutLE32(b, 24, UnpackedSize);
  PutLE16(b, 28, NameLength);
  PutLE16(b, 30, ExtraLength);
  PutLE16(b, 32, CommentLength);
  PutLE16(b, 34, DiskNumberStart);
  PutLE16(b, 36, InternalAttributes);
  PutLE32(b, 38, ExternalAttributes);
  PutLE32(b, 42, LocalHeaderOffset);
  return b;
}

std::optional<TCentralHeader> TCentralHeader::Decode(const uint8_t* Data, size_t Size) {
  const auto s = Bounded(Data, Size);
  if (s.size() < kSize) return std::nullopt;
  TCentralHeader h;
  h.Signature = GetLE32(s, 0);
  h.VersionMadeBy = GetLE16(s, 4);
  h.VersionNeeded = GetLE16(s, 6);
  h.Flags = GetLE16(s, 8);
  h.Method = GetLE16(s, 10);
  h.DosDateTime = GetLE32(s, 12);
  h.Crc32 = GetLE32(s, 16);
  h.PackedSize = GetLE32(s, 20);
  h.UnpackedSize = GetLE32(s, 24);
  h.NameLength = GetLE16(s, 28);
  h.ExtraLength = GetLE16(s, 30);
  h.CommentLength = GetLE16(s, 32);
  h.DiskNumberStart = GetLE16(s, 34);
  h.InternalAttributes = GetLE16(s, 36);
  h.ExternalAttributes = GetLE32(s, 38);
  h.LocalHeaderOffset = GetLE32(s, 42);
  return h;
}

std::array<uint8_t, TEndRecord::kSize> TEndRecord::Encode() const {
  std::array<uint8_t, kSize> b{};
  PutLE32(b, 0, Signature);
  PutLE16(b, 4, DiskNumber);
  PutLE16(b, 6, DirectoryDisk);
  PutLE16(b, 8, EntriesOnDisk);
  PutLE16(b, 10, TotalEntries);
  PutLE32(b, 12, DirectorySize);
  PutLE32(b, 16, DirectoryOffset);
  PutLE16(b, 20, CommentLength);
  return b;
}

std::optional<TEndRecord> TEndRecord::Decode(const uint8_t* Data, size_t Size) {
  const auto s = Bounded(Data, Size);
  if (s.size() < kSize) return std::nullopt;
  TEndRecord r;
  r.Signature = GetLE32(s, 0);
  r.DiskNumber = GetLE16(s, 4);
  r.DirectoryDisk = GetLE16(s, 6);
  r.EntriesOnDisk = GetLE16(s, 8);
  r.TotalEntries = GetLE16(s, 10);
  r.DirectorySize = GetLE32(s, 12);
  r.DirectoryOffset = GetLE32(s, 16);
  r.CommentLength = GetLE16(s, 20);
  return r;
}

std::array<uint8_t, TLargeEndRecord::kSize> TLargeEndRecord::Encode() const {
  std::array<uint8_t, kSize> b{};
  PutLE32(b, 0, Signature);
  PutLE16(b, 4, DiskNumber);
  PutLE16(b, 6, DirectoryDisk);
  PutLE16(b, 8, EntriesOnDisk);
  PutLE16(b, 10, TotalEntries);
  PutLE32(b, 12, DirectorySize);
  PutLE64(b, 16, DirectoryOffset);
  PutLE16(b, 24, CommentLength);
  return b;
}

std::optional<TLargeEndRecord> TLargeEndRecord::Decode(const uint8_t* Data, size_t Size) {
  const auto s = Bounded(Data, Size);
  if (s.size() < kSize) return std::nullopt;
  TLargeEndRecord r;
  r.Signature = GetLE32(s, 0);
  r.DiskNumber = GetLE16(s, 4);
  r.DirectoryDisk = GetLE16(s, 6);
  r.EntriesOnDisk = GetLE16(s, 8);
  r.TotalEntries = GetLE16(s, 10);
  r.DirectorySize = GetLE32(s, 12);
  r.DirectoryOffset = GetLE64(s, 16);
  r.CommentLength = GetLE16(s, 24);
  return r;
}

std::array<uint8_t, TZip64Extra::kLocalSize> TZip64Extra::EncodeLocal() const {
  std::array<uint8_t, kLocalSize> b{};
  PutLE16(b, 0, kZip64ExtraTag);
  PutLE16(b, 2, 4);
  PutLE16(b, 4, PackedHigh);
  PutLE16(b, 6, UnpackedHigh);
  return b;
}

std::array<uint8_t, TZip64Extra::kCentralSize> TZip64Extra::EncodeCentral() const {
  std::array<uint8_t, kCentralSize> b{};
  PutLE16(b, 0, kZip64ExtraTag);
  PutLE16(b, 2, 6);
  PutLE16(b, 4, PackedHigh);
  PutLE16(b, 6, UnpackedHigh);
  PutLE16(b, 8, OffsetHigh);
  return b;
}

namespace {
std::optional<TZip64Extra> DecodeZip64Extra(const uint8_t* Data, size_t Size, uint16_t minDataSize) {
  const auto s = Bounded(Data, Size);
  if (s.size() < 4 || GetLE16(s, 0) != kZip64ExtraTag) return std::nullopt;
  const uint16_t dataSize = GetLE16(s, 2);
  if (dataSize < minDataSize || s.size() - 4 < dataSize) return std::nullopt;
  TZip64Extra e;
  e.PackedHigh = GetLE16(s, 4);
  e.UnpackedHigh = GetLE16(s, 6);
  if (minDataSize >= 6) e.OffsetHigh = GetLE16(s, 8);
  return e;
}
}  // namespace

std::optional<TZip64Extra> TZip64Extra::DecodeLocal(const uint8_t* Data, size_t Size) {
  return DecodeZip64Extra(Data, Size, 4);
}

std::optional<TZip64Extra> TZip64Extra::DecodeCentral(const uint8_t* Data, size_t Size) {
  return DecodeZip64Extra(Data, Size, 6);
}

std::optional<TZip64Locator> TZip64Locator::Decode(const uint8_t* Data, size_t Size) {
  const auto s = Bounded(Data, Size);
  if (s.size() < kSize) return std::nullopt;
  TZip64Locator l;
  l.Signature = GetLE32(s, 0);
  l.Zip64EndDisk = GetLE32(s, 4);
  l.Zip64EndOffset = GetLE64(s, 8);
  l.TotalDisks = GetLE32(s, 16);
  return l;
}

std::optional<TZip64EndRecord> TZip64EndRecord::Decode(const uint8_t* Data, size_t Size) {
  const auto s = Bounded(Data, Size);
  if (s.size() < kSize) return std::nullopt;
  TZip64EndRecord r;
  r.Signature = GetLE32(s, 0);
  r.RecordSize = GetLE64(s, 4);
  r.VersionMadeBy = GetLE16(s, 12);
  r.VersionNeeded = GetLE16(s, 14);
  r.DiskNumber = GetLE32(s, 16);
  r.DirectoryDisk = GetLE32(s, 20);
  r.EntriesOnDisk = GetLE64(s, 24);
  r.TotalEntries = GetLE64(s, 32);
  r.DirectorySize = GetLE64(s, 40);
  r.DirectoryOffset = GetLE64(s, 48);
  return r;
}

std::optional<TDataDescriptor> TDataDescriptor::Decode(const uint8_t* Data, size_t Size, bool Zip64) {
  const auto s = Bounded(Data, Size);
  TDataDescriptor d;
  d.Zip64 = Zip64;
  d.HasSignature = s.size() >= 4 && GetLE32(s, 0) == kDataDescriptorSignature;
  if (s.size() < d.EncodedSize()) return std::nullopt;
  size_t at = d.HasSignature ? 4 : 0;
  d.Crc32 = GetLE32(s, at);
  at += 4;
  if (Zip64) {
    d.PackedSize = GetLE64(s, at);
    d.UnpackedSize = GetLE64(s, at + 8);
  } else {
    d.PackedSize = GetLE32(s, at);
    d.UnpackedSize = GetLE32(s, at + 4);
  }
  return d;
}
