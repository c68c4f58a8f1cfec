#pragma once
// Test-side helpers: read a whole file, walk a ZIP's central directory with the engine's record
// decoders, and build a one-entry archive by hand.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "archive/qrnZipRecords.h"

namespace zipfixture {

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Entry {
  TCentralHeader central;
  TLocalHeader local;
  std::string name;
  size_t dataOffset = 0;  // first byte after the local name and extra field
  std::vector<uint8_t> centralExtra;
  std::vector<uint8_t> localExtra;
};

// Every entry of an archive without a Zip64 directory; empty when something does not add up.
inline std::vector<Entry> Entries(const std::vector<uint8_t>& zip) {
  std::vector<Entry> out;
  if (zip.size() < TEndRecord::kSize) return out;
  std::optional<TEndRecord> end;
  for (size_t at = zip.size() - TEndRecord::kSize + 1; at-- > 0;) {
    auto r = TEndRecord::Decode(zip.data() + at, zip.size() - at);
    if (r && r->Signature == kEndRecordSignature) {
      end = r;
      break;
    }
  }
  if (!end) return out;
  size_t at = end->DirectoryOffset;
  for (uint16_t i = 0; i < end->TotalEntries; ++i) {
    if (at > zip.size()) return {};
    auto c = TCentralHeader::Decode(zip.data() + at, zip.size() - at);
    if (!c || c->Signature != kCentralHeaderSignature) return {};
    Entry e;
    e.central = *c;
    at += TCentralHeader::kSize;
    if (zip.size() - at < c->NameLength) return {};
    e.name.assign(reinterpret_cast<const char*>(zip.data() + at), c->NameLength);
    at += c->NameLength;
    if (zip.size() - at < c->ExtraLength) return {};
    e.centralExtra.assign(zip.begin() + static_cast<std::ptrdiff_t>(at),
                          zip.begin() + static_cast<std::ptrdiff_t>(at + c->ExtraLength));
    at += size_t{c->ExtraLength} + c->CommentLength;
    size_t lo = c->LocalHeaderOffset;
    if (lo > zip.size()) return {};
    auto l = TLocalHeader::Decode(zip.data() + lo, zip.size() - lo);
    if (!l || l->Signature != kLocalHeaderSignature) return {};
    e.local = *l;
    e.dataOffset = lo + TLocalHeader::kSize + l->NameLength + l->ExtraLength;
    if (e.dataOffset > zip.size() || zip.size() - e.dataOffset < c->PackedSize) return {};
    e.localExtra.assign(zip.begin() + static_cast<std::ptrdiff_t>(e.dataOffset - l->ExtraLength),
                        zip.begin() + static_cast<std::ptrdiff_t>(e.dataOffset));
    out.push_back(e);
  }
  return out;
}

// A one-entry stored archive: local header, name, Data as given (already enciphered with its
// 12-byte header when Flags has bit 0), central header, end record.
inline std::vector<uint8_t> OneEntryArchive(const std::string& name, const std::vector<uint8_t>& data,
                                            uint16_t flags, uint32_t crc, uint32_t unpackedSize,
                                            uint32_t dosDateTime) {
  TLocalHeader l;
  l.VersionNeeded = 20;
  l.Flags = flags;
  l.Method = 0;
  l.DosDateTime = dosDateTime;
  l.Crc32 = crc;
  l.PackedSize = static_cast<uint32_t>(data.size());
  l.UnpackedSize = unpackedSize;
  l.NameLength = static_cast<uint16_t>(name.size());
  TCentralHeader c;
  c.VersionMadeBy = 20;
  c.VersionNeeded = 20;
  c.Flags = flags;
  c.Method = 0;
  c.DosDateTime = dosDateTime;
  c.Crc32 = crc;
  c.PackedSize = l.PackedSize;
  c.UnpackedSize = unpackedSize;
  c.NameLength = l.NameLength;
  c.InternalAttributes = 1;
  c.ExternalAttributes = 0x20;
  c.LocalHeaderOffset = 0;

  std::vector<uint8_t> zip;
  auto append = [&zip](const auto& bytes) { zip.insert(zip.end(), bytes.begin(), bytes.end()); };
  append(l.Encode());
  append(name);
  append(data);
  TEndRecord e;
  e.DirectoryOffset = static_cast<uint32_t>(zip.size());
  append(c.Encode());
  append(name);
  e.DirectorySize = static_cast<uint32_t>(zip.size() - e.DirectoryOffset);
  e.EntriesOnDisk = 1;
  e.TotalEntries = 1;
  append(e.Encode());
  return zip;
}

}  // namespace zipfixture
