#pragma once
// The root of every archive component: the archive's name and detected kind, the copies of the
// zip records that detection finds, the zip header signatures in their plain and enciphered
// forms, and the ciphering of zip headers.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "archive/qrnGbls.h"

class TStream32;

// Value of the octal digits of S; every other character is skipped.
int64_t ParseOctal(const std::string& S);

// False for atNA, atUnsupported, atFileOpenErr and atUnknown.
inline bool IsKnownArcType(TArcType t) {
  return t != atNA && t != atUnsupported && t != atFileOpenErr && t != atUnknown;
}

// Header kinds of the signature operations.
enum : int32_t { hkLocal = 0, hkCentral = 1, hkEnd = 2, hkDataDescriptor = 3, hkNone = 5 };

// The record that gives the numbers of a zip directory: the 22-byte end record, the engine's
// own 26-byte one, or the Zip64 end record before the 22-byte one.
enum TEndRecordKind : uint8_t { ekNone, ekPlain, ekLarge, ekZip64 };

// What the zip directory search found, filled whole by each search and read by the reader and
// the writer alike. Positions are in the file searched (the last volume of a set).
struct TZipDirectory {
  // The records found: hfLocal, hfCentral (the directory confirmed), hfEnd, hfZip64Locator,
  // hfZip64End.
  THeaderTypeState DirectoryFlags = 0;
  // Where the archive comment begins (right after the end record; 0 when none) and its length.
  int64_t CommentPos = 0;
  uint16_t CommentLength = 0;
  // Added to every stored local-header offset: the length of a prefix the offsets do not count.
  uint32_t SfxShift = 0;
  // The end record found (-1 none) and the record its numbers come from.
  int64_t EndRecordPos = -1;
  TEndRecordKind EndRecordKind = ekNone;
  // Its numbers: the disk that holds it, the disk the directory begins on and its offset there
  // (both 0-based, as stored), the directory's size and its entries (16 bits in the 22-byte and
  // the large record).
  uint32_t EndRecordDisk = 0;
  uint32_t DirectoryDisk = 0;
  int64_t DirectoryOffset = 0;
  int64_t DirectorySize = 0;
  int64_t DirectoryEntries = 0;
  // Where the records after the directory begin: the Zip64 end record, else the end record;
  // -1 when no end record was found.
  int64_t DirectoryEnd = -1;
  // Why the archive is damaged at its end, as the reader reports it and an update refuses it;
  // empty when it is sound. With hfCentral the directory is still there (only the comment is
  // cut); without, the end record found is not the archive's own and the entries are looked
  // for by their local headers.
  std::string Damage;
};

class TRegisterQarno : public TComponent, public TZipDirectory {
 public:
  TRegisterQarno();
  ~TRegisterQarno() override = default;
  TRegisterQarno(const TRegisterQarno&) = delete;
  TRegisterQarno& operator=(const TRegisterQarno&) = delete;

  // --- virtual operations, in slot order ---
  virtual std::string GetArchiveFile();
  // A missing file empties ArchiveFile and gives atNA; otherwise the kind is detected.
  virtual void SetArchiveFile(const std::string& Value);
  // Re-detects the kind of ArchiveFile (Value is not used); raises EFOpenError
  // "Error opening file" when the archive cannot be opened.
  virtual void SetArcType(TArcType Value);
  // Called after each entry's data; this system writes no trailer.
  virtual void WriteTrailerBlock(TStream32* Output);

  // --- published properties ---
  std::string ArchiveFile() { return GetArchiveFile(); }
  TArcType ArcType() const { return FArcType; }
  bool EncryptHeaders() const { return GetEncryptHeaders(); }
  void SetEncryptHeaders(bool Value) { FEncryptHeaders = Value; }
  bool GetEncryptHeaders() const { return FEncryptHeaders; }
  int32_t ZipCmntBufSize() const { return FZipCmntBufSize; }
  // Kept within 2000..32767.
  void SetZipCmntBufSize(int32_t Value);

  // --- header signatures ---
  // Kind 0 local, 1 central, 2 end, any other the data descriptor. Only local and central
  // headers have an enciphered form.
  static uint32_t GetHeaderSignature(int32_t Kind, bool Enciphered);
  // ExpectedKind when Value is one of that kind's signatures (the end kind covers the 22-byte
  // and the large end record), else hkNone.
  static int32_t ClassifySignature(uint32_t Value, int32_t ExpectedKind, bool& Enciphered);
  static bool IsEncipheredSignature(uint32_t Value);
  static bool IsEntrySignature(uint32_t Value);
  static bool IsLargeEndSignature(uint32_t Value) { return ::IsLargeEndSignature(Value); }
  // Bytes ciphered after the 4-byte signature: 26 local, 42 central, 18 end record, 22 large
  // end record; 0 for any other kind.
  static int32_t HeaderCipherLength(uint32_t Signature, int32_t Kind);

  // --- header ciphering ---
  // Load the process's header key state into the cipher keys, then cipher the header's bytes
  // after its signature in place. Names, extras and comments after the header are not touched.
  // False (and nothing changed) when the span is shorter than the header.
  static bool EncipherHeader(std::span<uint8_t> Header, int32_t Kind);
  static bool DecipherHeader(std::span<uint8_t> Header, int32_t Kind);
  // The cipher with the keys as they stand (names and extras of enciphered headers).
  static void EncipherBlock(uint8_t* Buffer, int32_t Count);
  static void DecipherBlock(uint8_t* Buffer, int32_t Count);

  // --- detection (its bodies belong to the detection unit) ---
  // Detects the kind of the archive open in Stream and fills the detection fields; nullptr
  // gives atNA.
  TArcType DetectArcType(TStream32* Stream);
  // The zip directory search: fills the TZipDirectory record and the header copies; returns
  // the directory position, a local-header position, 0 or -1. The reader and the writer both
  // take the directory from here.
  int64_t FindZipDirectory(TStream32& Stream);
  // VolumeLetter and VolumeNumber from the detected kind and the archive's extension.
  void SetVolumeNumbering();
  // The volumes the end record names, 0-based and kept below 0xFFFF: the last one (which holds
  // the end record) and the one the directory begins on.
  int32_t LastVolume() const;
  int32_t DirectoryVolume() const;

  // --- the single tests of detection ---
  // Modes of ArcTypeOfHeader: the dword starts the file, or lies inside a self-extractor.
  enum : int32_t { amPlain = 0, amEmbedded = 1 };
  // The kind that a header's first dword stands for; may set ArcOffset, and asks the disk
  // services and the directory search for the spanned kinds.
  TArcType ArcTypeOfHeader(TStream32& Stream, int32_t Mode, uint32_t Dword);
  // An archive at the fixed offsets of known self-extractor stubs; sets ArcOffset.
  TArcType CheckSfxStub(TStream32& Stream);
  // Offset of an archive found by signature from Start (0 when none); sets Type.
  int32_t ScanEmbeddedArchive(TStream32& Stream, TArcType& Type, int64_t Start);
  TArcType IsUUEncoded(TStream32& Stream);
  TArcType IsTarArchive(TStream32& Stream);
  // atZipDS on a removable disk labelled "PKBACK# ...", else atZipMV; atNA when the disk of
  // ArchiveFile cannot be asked.
  TArcType SpannedOrMultiVolume();

  // The two branches of DetectArcType: a program file ("MZ"), and any other file. T is the
  // kind found so far, kept when an exception ends the branch.
  TArcType DetectProgramFile(TStream32& Stream, const uint8_t* Head, int32_t HeadLen, TArcType& T);
  TArcType DetectPlainFile(TStream32& Stream, const uint8_t* Head, int32_t HeadLen, TArcType& T);

  // --- detection results (the zip directory's in TZipDirectory) ---
  int64_t ArchiveSize = 0;
  int64_t ArcOffset = 0;
  std::array<uint8_t, 22> EndRecordBuf{};
  std::array<uint8_t, 26> LargeEndRecordBuf{};
  std::array<uint8_t, 20> Zip64LocatorBuf{};
  std::array<uint8_t, 56> Zip64EndRecordBuf{};
  std::array<uint8_t, 46> CentralHeaderBuf{};
  std::array<uint8_t, 30> LocalHeaderBuf{};
  std::array<uint8_t, 512> TarHeaderBuf{};
  uint32_t ArchiveDate = kDefaultDosDateTime;
  int32_t VolumeNumber = 0;
  char VolumeLetter = '\0';

 protected:
  // The search of FindZipDirectory, into a record of its own.
  int64_t SearchZipDirectory(TStream32& Stream, TZipDirectory& Found);
  // Opens ArchiveFile read-only (deny write) and detects its kind; false when it cannot be
  // opened.
  bool DetectFromArchiveFile(TArcType& Found);

  std::string FArchiveFile;
  TArcType FArcType = atNA;
  bool FEncryptHeaders = false;
  int32_t FZipCmntBufSize = 0;
};
