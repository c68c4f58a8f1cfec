#pragma once
// The ZIP writer: fills and writes the local header of each new entry, builds its central
// header, reads the directory of an existing archive so that an update can keep, drop or rename
// its entries, copies kept entries, and writes the central directory and the end record (the
// engine's own large end record once the archive reaches 4 GiB). TZip is the component that the
// programs hold.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/qrnCentral.h"
#include "archive/qrnCompBase.h"
#include "platform/volumes.h"

class TDiskSpanObj;
class TVolumeSetStream;

// What ListEntries tells of the new entry it lists when OnRead fires.
struct TCompEntryInfo {
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  bool Encrypted = false;
  int64_t PackedSize = 0;  // without the 12-byte encryption header
  int64_t UnpackedSize = 0;
  uint32_t Crc = 0;
  uint16_t Method = 0;
  std::string MethodName;
  uint32_t ExternalAttributes = 0;
  uint16_t InternalAttributes = 0;
  int64_t Ratio = 0;  // percent of the unpacked size saved
  TDateTime Date = 0;  // 0 when the entry has no date
  std::string FileName;  // a folder's name ends in '/'
};

// Parses an extra field (HeaderKind 0 local, 1 central) for tag 100 and tag 1 blocks. The
// header's 32-bit fields are passed in Sizes so that tag-1 values are taken only where they hold
// 0xFFFFFFFF; those fields then hold the low 32 bits of the tag-1 values. Blocks that do not
// fit the field are ignored.
TExtraHigh ParseExtraHigh(const uint8_t* Extra, size_t Length, int HeaderKind, TExtraSizes& Sizes);

class TZipBase : public TCompBase {
 public:
  TZipBase();
  ~TZipBase() override = default;

  void SetArcType(TArcType Value) override;

  void CopyEntry(TStream32& Input, TStream32& Output, TCompHeaderList& List, int32_t Index) override;
  void BuildCentralHeader(int32_t Index, uint32_t ExternalAttributes, TCompHeaderList& List) override;
  void FinishLocalHeader(int64_t PackedSize, int64_t UnpackedSize) override;
  void StartLocalHeader(TCompHeaderList& List, int32_t Index) override;
  void CompressEntry(TStream32& Output, int32_t Index, bool& Done, TCompHeaderList& List) override;
  void HeaderFromFileInfo(std::array<uint8_t, 46>& RawHeader, TCompFileInfo& Info, const TFileInfoRecord& Rec) override;
  void WriteEmptyEndRecord(TStream32& Output) override;
  void EndEntry() override;
  bool FindDirectory(std::string& Name, TStream32& Input, TCompHeaderList* List, bool& DirectoryFound) override;
  int32_t GetHeadSize() override { return 46; }
  int32_t GetLocalHeadSize() override { return 30; }
  bool ReadNextCentralHeader(std::string& Name, TStream32& Input, bool Central) override;
  const uint8_t* GetHeadPtr() override { return LocalHeaderBuf.data(); }
  bool ReadCentralHeader(TStream32& Input, std::string& Name, bool Central) override;
  void WriteZip64Extra(TStream32& Output, TCompFileInfo& Info) override;
  void ReadCentralDirectory(TStream32& Input, TCompHeaderList& List) override;
  void CommitComments() override;
  void ListEntries(TCompHeaderList& List) override;
  bool GetFileComment(int32_t Index, std::string& Name, std::string& Text) override;
  void SetFileComment(int32_t Index, const std::string& Text) override;
  void SetZipComment(const std::string& Text) override;
  int32_t OpenArchiveDirectory() override;
  bool WriteCentralDirectory(TStream32& Output, TCompHeaderList& List) override;
  void FileInfoFromHeader(const std::array<uint8_t, 46>& RawHeader, const TCompFileInfo& Info,
                          TFileInfoRecord& Rec) override;
  int64_t ReadLocalHeader(TStream32& Input, TStream32& Output, std::array<uint8_t, 46>& RawHeader) override;
  bool GetZipComment(std::string& Text) override;

  // Writes the central directory and the end record. While SpanObject is set (a spanned
  // write), every byte goes through it onto the disks, and the end record is only prepared in
  // EndRecordBuf for the span object to write.
  bool WriteCentralHeaders(TStream32& Output, TCompHeaderList& List);
  // Bytes the central header of entry Index takes: header, name, extra field, comment.
  int64_t CentralEntrySize(TCompHeaderList& List, int32_t Index);
  int32_t LeaveSpaceOnFirstDisk() const { return FLeaveSpaceOnFirstDisk; }
  void SetLeaveSpaceOnFirstDisk(int32_t v) { FLeaveSpaceOnFirstDisk = v; }

  int64_t NextHeaderPos = 0;
  int64_t CurrentHeaderPos = 0;
  // After a run (ListEntries): the packed and unpacked sizes of every entry of the new
  // archive, and the new entry that OnRead is told of.
  int64_t PackedTotal = 0;
  int64_t UnpackedTotal = 0;
  TCompEntryInfo EntryInfo;
  TExtraHigh ExtraHigh;
  bool IsLargeArchive = false;
  int32_t SkippedCount = 0;
  std::unique_ptr<TCompHeaderList> CommentList;
  TDiskSpanObj* SpanObject = nullptr;  // the spanned write in progress, not owned
  friend class TDiskSpanObj;

 protected:
  // On a removable drive the spanned writer takes over the directory (the disk check of the
  // run filled DriveType).
  virtual bool ArchiveOnRemovableDrive() { return DiskManager && DiskManager->DriveType == platform::kDriveRemovable; }
  virtual bool SpanArchive(TStream32& Output, TCompHeaderList& List);

  // Takes the directory where detection's search found it (ArcOffset, DirectoryFlags, SfxShift,
  // the end records), so that an update reads the entries that the reader lists. Central: the
  // entries come from a directory starting at Start, else from local headers starting there.
  // False when there is nothing to read: FDirectoryDamage then says why when the archive is
  // damaged, and FDirectoryPos stays -1 when it is no archive this writer updates.
  bool TakeDirectory(TStream32& Input, int64_t& Start, bool& Central);
  // Keeps the first reason an update of the old archive is refused for.
  void MarkDamaged(const std::string& Why);
  // Reads a header's name bytes (deciphered) into FReadStoredName.
  bool ReadEntryName(TStream32& Input, int32_t Length, bool Enciphered);
  bool OpenOldVolumes(std::unique_ptr<TStream32>& Old) override;
  bool TakeOverSpannedSet() override;
  bool OpenSpannedSet(std::unique_ptr<TStream32>& Old) override;
  // Whether Piece, the copy of disk Number of a spanned set, is the set's last disk.
  bool LastPieceOfSet(TStream32& Piece, int32_t Number);
  // A copy in TempDir of the piece of the disk in the drive, discarded with its stream.
  std::unique_ptr<TStream32> CopyOfPiece(TStream32& Piece);
  // Puts one stream over the volumes of a set, in order, in Old's place.
  void ReadAsOneSet(std::unique_ptr<TStream32>& Old, std::vector<std::unique_ptr<TStream32>> Volumes);
  // Reads the local header of the stored entry at Input's position into LocalHeaderBuf
  // (deciphered) and returns the bytes the entry takes from there: header, name, extra field,
  // data and a data descriptor. The data's size is the directory's (with Info's high words);
  // 0 when the entry would reach into the next one (Info's Limit) or past the end of the
  // archive. Input is left at the entry's start.
  int64_t MeasureStoredEntry(TStream32& Input, const std::array<uint8_t, 46>& RawHeader, const TCompFileInfo* Info,
                             bool& Enciphered);
  // The work-list entry of the directory record just read, its local header judged as the
  // reader judges it.
  void AddDirectoryEntry(TStream32& Input, const std::string& Name, TCompFileInfo& Info, int64_t& DeletedBytes,
                         TCompHeaderList& List);
  // After the last entry: the count and the end of the directory.
  void CheckWhatEndsTheEntries(TStream32& Input, int64_t Read);
  // Where each stored entry must end (Limit); entries at one place, past the directory or over
  // the next one mark the archive damaged.
  void SetEntryLimits(TCompHeaderList& List);
  // Marks the archive when another archive's member stands before its entries.
  void CheckWhatPrecedesTheEntries(TStream32& Input, TCompHeaderList& List);
  // Whether a digital signature record at Pos ends exactly where the directory does.
  bool DigitalSignatureCloses(TStream32& Input, int64_t Pos);

 private:
  int32_t FLeaveSpaceOnFirstDisk = 0;
  // The local extra field of the new entry in work: whether its layout is settled (by the first
  // WriteZip64Extra after StartLocalHeader) and whether it holds the Zip64Extra.
  bool FLocalExtraSettled = false;
  bool FLocalZip64 = false;
  // The header last read: its name bytes as stored, extra field and comment.
  std::string FReadStoredName;
  std::vector<uint8_t> FReadExtra;
  std::vector<uint8_t> FReadComment;
  bool FReadEnciphered = false;
  TLocalRecord FReadLocal;  // the local header last read, its allocations kept across entries
  int64_t FReadPos = 0;
  // Where the header's entry begins in the stream read: its local header, moved by a prefix's
  // shift or by the start of its volume in a set.
  int64_t FReadOffset = 0;
  // The old archive as a set of volumes, while its directory is read (TakeDirectory looks once);
  // null for a single file.
  TVolumeSetStream* FReadSet = nullptr;
  // What the end record says: entries (-1 unknown; FExpectedFullCount when not cut to 16
  // bits), and whether the archive has no entries at all.
  int64_t FExpectedEntries = -1;
  bool FExpectedFullCount = false;
  bool FEmptyDirectory = false;
  // Where the directory ends: the end record, or the Zip64 end record before it.
  int64_t FDirectoryEnd = -1;
};

class TZip : public TZipBase {
 public:
  TZip() = default;
};
