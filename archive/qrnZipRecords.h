#pragma once
// The ZIP records the engine writes and reads, with their signatures in plain and enciphered
// form. Each record is encoded and decoded field by field through the little-endian helpers;
// a decoder takes a bounded span and refuses one that is shorter than its record. Decoders do
// not judge the signature: the caller classifies it (plain, enciphered, or none of its kind).
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>

// Signatures as 32-bit little-endian values (file order "P" "K" 3 4 and so on). The
// enciphered forms mark headers whose bytes after the signature are ciphered.
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50u;
inline constexpr uint32_t kLocalHeaderSignatureEnciphered = 0x04034C50u;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50u;
inline constexpr uint32_t kCentralHeaderSignatureEnciphered = 0x02014C50u;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50u;
inline constexpr uint32_t kEndRecordSignatureEnciphered = 0x06054C50u;
inline constexpr uint32_t kLargeEndRecordSignature = 0x06055B50u;
inline constexpr uint32_t kLargeEndRecordSignatureEnciphered = 0x06055C50u;
inline constexpr uint32_t kDataDescriptorSignature = 0x08074B50u;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50u;
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064B50u;
// The record that may close a central directory (APPNOTE 4.3.13).
inline constexpr uint32_t kDigitalSignatureSignature = 0x05054B50u;
// Markers of 4 bytes before the first local header: "PK" 7 8 (the data-descriptor signature)
// opens a split or spanned archive, "PK00" one that was to be spanned but fitted on one disk.
inline constexpr int64_t kSplitMarkerSize = 4;
inline constexpr uint32_t kSingleDiskSpanMarker = 0x30304B50u;

// Hosts of the "version made by" field (its high byte) whose names are not in the OEM code page.
inline constexpr uint8_t kHostUnix = 3;
inline constexpr uint8_t kHostMacOsX = 19;
// A local header names no host: only its extra blocks may tell a Unix tool.
inline constexpr int32_t kHostUnknown = -1;
// Whether a host is DOS, OS/2 or Windows: MS-DOS FAT (0), OS/2 HPFS (6), Windows NTFS (10, and
// 11 as Info-ZIP numbers it), VFAT (14). Their file systems forbid '\' and ':' in a file name, so
// in their entries '\' can only separate folders and a letter, a colon and a separator can only be
// a drive. Everywhere else both are bytes of the name, as on this system.
inline constexpr bool IsDosHost(int32_t Host) {
  return Host == 0 || Host == 6 || Host == 10 || Host == 11 || Host == 14;
}
// The Unix hosts, whose external attributes carry the file's mode in their high 16 bits.
inline constexpr bool IsUnixHost(int32_t Host) { return Host == kHostUnix || Host == kHostMacOsX; }
// The file-type bits of a Unix mode, and the type of a regular file and of a folder.
inline constexpr uint32_t kUnixTypeMask = 0170000;
inline constexpr uint32_t kUnixRegularFile = 0100000;
inline constexpr uint32_t kUnixFolder = 0040000;
// The permission bits a restore gives back: never set-user-ID, set-group-ID or sticky.
inline constexpr uint32_t kUnixPermissionMask = 0777;

// Extra-field tags: the writer's own record and the standard Zip64 field (read only).
inline constexpr uint16_t kZip64ExtraTag = 100;
inline constexpr uint16_t kStandardZip64ExtraTag = 0x0001;
// Info-ZIP's Unicode Path field: version 1, the CRC-32 of the header's name, that name in UTF-8.
inline constexpr uint16_t kUnicodePathExtraTag = 0x7075;

// General-purpose flag bits the engine looks at.
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

// Whether an extra field holds a block that only Unix tools write (Info-ZIP's Unix blocks
// 0x5855 and 0x7875, PKWARE's 0x000D, ASi's 0x756E): without a directory, the local header's
// only sign of where its name comes from.
bool HasUnixExtraBlock(const uint8_t* Extra, size_t Size);
// Whether an extra field holds a block with one of Tags.
bool HasExtraBlock(const uint8_t* Extra, size_t Size, std::initializer_list<uint16_t> Tags);

struct TLocalHeader {
  static constexpr size_t kSize = 30;
  uint32_t Signature = kLocalHeaderSignature;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t DosDateTime = 0;  // time in the low word, date in the high word
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;

  std::array<uint8_t, kSize> Encode() const;
  static std::optional<TLocalHeader> Decode(const uint8_t* Data, size_t Size);
  bool operator==(const TLocalHeader&) const = default;
};

struct TCentralHeader {
  static constexpr size_t kSize = 46;
  uint32_t Signature = kCentralHeaderSignature;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t DosDateTime = 0;
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;

  std::array<uint8_t, kSize> Encode() const;
  static std::optional<TCentralHeader> Decode(const uint8_t* Data, size_t Size);
  bool operator==(const TCentralHeader&) const = default;
};

struct TEndRecord {
  static constexpr size_t kSize = 22;
  uint32_t Signature = kEndRecordSignature;
  uint16_t DiskNumber = 0;
  uint16_t DirectoryDisk = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirectorySize = 0;
  uint32_t DirectoryOffset = 0;
  uint16_t CommentLength = 0;

  std::array<uint8_t, kSize> Encode() const;
  static std::optional<TEndRecord> Decode(const uint8_t* Data, size_t Size);
  bool operator==(const TEndRecord&) const = default;
};

// The engine's own end record for archives of 4 GiB or more: a 64-bit directory offset.
struct TLargeEndRecord {
  static constexpr size_t kSize = 26;
  uint32_t Signature = kLargeEndRecordSignature;
  uint16_t DiskNumber = 0;
  uint16_t DirectoryDisk = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirectorySize = 0;
  uint64_t DirectoryOffset = 0;
  uint16_t CommentLength = 0;

  std::array<uint8_t, kSize> Encode() const;
  static std::optional<TLargeEndRecord> Decode(const uint8_t* Data, size_t Size);
  bool operator==(const TLargeEndRecord&) const = default;
};

// The writer's own extra field, tag 100: bits 32-47 of each quantity whose low 32 bits stay in
// the header. The local form (data size 4) has no offset word; the central form (data size 6)
// has one.
struct TZip64Extra {
  static constexpr size_t kLocalSize = 8;
  static constexpr size_t kCentralSize = 10;
  uint16_t PackedHigh = 0;
  uint16_t UnpackedHigh = 0;
  uint16_t OffsetHigh = 0;

  std::array<uint8_t, kLocalSize> EncodeLocal() const;
  std::array<uint8_t, kCentralSize> EncodeCentral() const;
  // Data: one extra-field record, tag first. Refused when the tag is not 100, the declared data
  // size is too small for the form, or the span does not hold the declared data.
  static std::optional<TZip64Extra> DecodeLocal(const uint8_t* Data, size_t Size);
  static std::optional<TZip64Extra> DecodeCentral(const uint8_t* Data, size_t Size);
  bool operator==(const TZip64Extra&) const = default;
};

// The standard Zip64 end-of-directory locator and record (read only).
struct TZip64Locator {
  static constexpr size_t kSize = 20;
  uint32_t Signature = kZip64LocatorSignature;
  uint32_t Zip64EndDisk = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalDisks = 0;

  static std::optional<TZip64Locator> Decode(const uint8_t* Data, size_t Size);
};

struct TZip64EndRecord {
  static constexpr size_t kSize = 56;  // the fixed part; RecordSize counts from offset 12
  uint32_t Signature = kZip64EndRecordSignature;
  uint64_t RecordSize = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint32_t DiskNumber = 0;
  uint32_t DirectoryDisk = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t DirectorySize = 0;
  uint64_t DirectoryOffset = 0;

  static std::optional<TZip64EndRecord> Decode(const uint8_t* Data, size_t Size);
};

// The descriptor after an entry's data (flag bit 3). Its signature is optional; sizes are 32-bit,
// or 64-bit when the entry is a Zip64 one. A CRC that happens to equal the signature cannot be
// told from it: the caller may cross-check with the central header.
struct TDataDescriptor {
  bool HasSignature = false;
  bool Zip64 = false;
  uint32_t Crc32 = 0;
  uint64_t PackedSize = 0;
  uint64_t UnpackedSize = 0;

  size_t EncodedSize() const { return (HasSignature ? 4u : 0u) + 4u + (Zip64 ? 16u : 8u); }
  static std::optional<TDataDescriptor> Decode(const uint8_t* Data, size_t Size, bool Zip64);
};
