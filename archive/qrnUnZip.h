#pragma once
// The ZIP reader: finds the entries through the central directory (or by walking the local
// headers of an archive without one), filters them by FileSpec, visits them in order, reads
// each local header, hands each member to the decoder of its method and follows the archive
// across split volumes and spanned disks. TUnZip is the component the programs hold.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/qrnCentral.h"
#include "archive/qrnSpan.h"
#include "archive/qrnUnBase.h"

// One chosen entry: where its local header lies, and a copy of its central header.
struct TUnZipRecord {
  uint32_t Attributes = 0;  // external attributes; 0 in the local-header path
  uint16_t Disk = 1;        // volume of the local header, counted from 1
  int64_t Offset = 0;       // of the local header in its volume, self-extractor shift included
  std::string Name;          // as listed, for reports
  std::string Stored;        // the name's bytes as the directory holds them
  bool HasCentral = false;
  int64_t DataEnd = 0;      // where its packed data ends (single-file archives)
  bool Overlaps = false;    // its data overlaps another entry's: refused as damaged
  bool SameName = false;    // found without a directory beside another member of its name
  // Why a member found without a directory is not to be trusted (the directory its walk leads
  // to disagrees); nullptr when nothing speaks against it.
  const char* Doubt = nullptr;
  // Split and spanned sets: where the next entry (or the directory) begins, on one base across
  // the volumes (disk counted from 1, offset in it); the member must end there at the latest.
  uint16_t LimitDisk = 0;   // 0: nothing follows
  int64_t LimitOffset = 0;

  std::array<uint8_t, 46> Central{};
  // The central header's sizes and offset with the Zip64 and tag-100 high bits applied.
  int64_t PackedSize = 0;
  int64_t UnpackedSize = 0;
};

class TUnZip : public TUnBase {
 public:
  TUnZip();
  ~TUnZip() override;

  void ExtractArchive(std::unique_ptr<TStream32>& Archive, TStream32*& Output) override;
  bool CheckPassword(uint8_t* Buffer) override;

  TOnCorruptZipHeader OnCorruptZipHeader;
  // OnNextVolume, OnGetZipFirstDisk, OnGetZipNextDisk, OnGetZipLastDisk, OnProgress, OnBegin,
  // OnEnd, OnError, OnGetPassword: TZipCommon; OnFileExists, OnRenameFile, OnDiskInDrvErr,
  // OnDiskWriteProtectErr: TUnBase.

  TDiskSpannObj DiskSpann;

  // --- the driver's steps ---
  int32_t ListCentralDirectory(TStream32& Archive);
  int32_t ScanLocalHeaders(TStream32& Archive);
  void ExtractByDirectory(std::unique_ptr<TStream32>& Archive);
  void ExtractByLocalHeaders(std::unique_ptr<TStream32>& Archive);
  bool ExtractEntryFile(std::unique_ptr<TStream32>& Archive, uint32_t Attributes);
  void ExtractMember(std::unique_ptr<TStream32>& Archive, TStream32* Output);
  void InflateDeflated(std::unique_ptr<TStream32>& Archive, TStream32* Output);
  // Opens volume Current + 1 of a split archive whose last volume is Count + 1.
  bool OpenNextVolume(std::unique_ptr<TStream32>& Archive, int32_t Current, int32_t Count);
  // Asks for the disk of a spanned archive that DiskSpann wants and opens it.
  bool OpenNextDisk(std::unique_ptr<TStream32>& Archive);

  // The high 16 bits of the header in work (extra field).
  uint16_t PackedHigh = 0;
  uint16_t UnpackedHigh = 0;
  uint16_t OffsetHigh = 0;

 private:
  bool IsSpanned() const { return FArcType == atZipDS; }
  bool IsMultiVolume() const { return FArcType == atZipMV; }
  bool IsSplit() const { return IsSpanned() || IsMultiVolume(); }
  // Puts the last volume of the split set whose volume number Opened was given in its place
  // (ArchiveFile and detection included); false, reported, when the set has none.
  bool OpenLastVolumeOfSet(std::unique_ptr<TStream32>& Archive, int32_t Opened);
  // Lists the directory, from the volume it starts on when that is an earlier one.
  int32_t ListDirectory(std::unique_ptr<TStream32>& Archive);
  // The central headers from Start on in Directory.
  int32_t ListHeaders(TStream32& Directory, int64_t Start);
  // Reports a directory that holds fewer headers than the end record promises, or ends before
  // its stated size; the entries it lost count as failed, as many as it could have held. Limit:
  // where the directory must end in Archive, -1 when nothing there tells.
  void ReportShortDirectory(TStream32& Archive, int64_t Limit);
  // Marks the listed entries whose data overlaps another entry's: in a single file by where
  // each member ends, in a set by where the next one begins (checked again when it is read).
  void MarkOverlaps();
  // Whether the member in work, read to its end, ran past where the next entry begins.
  bool RanPastNextEntry();
  // Where the local-header walk begins: the first local header whose members lead up to the one
  // detection found.
  int64_t WalkStart(TStream32& Archive, int64_t Size);
  // The members found without a directory, each with its index in the list, walked from Begin to
  // Pos (-1: an end that cannot be told): each one that the file around them shows to be no
  // member of this archive gets its doubt.
  struct TWalked {
    int32_t Index;
    TLocalRecord Local;
  };
  void DoubtWalkedMembers(TStream32& Archive, int64_t Begin, int64_t Pos, const std::vector<TWalked>& Walked);
  // The members chained from the first local header before Until.
  int64_t CountMembers(TStream32& Archive, int64_t Until);
  // Collects a directory that starts on an earlier disk or volume into Directory; leaves the
  // last one open. False when a piece cannot be had or holds less than the directory.
  bool ReadSplitDirectory(std::unique_ptr<TStream32>& Archive, TMemoryStream32& Directory);
  // Puts the disk or volume of Record in place; false when it cannot be had.
  bool OpenDiskOf(std::unique_ptr<TStream32>& Archive, const TUnZipRecord& Record, bool First);
  // The loop of both paths over the listed entries.
  void ExtractRecords(std::unique_ptr<TStream32>& Archive);
  // Asks for the next disk or volume while a member continues; false on refusal.
  bool ContinueOnNextVolume(std::unique_ptr<TStream32>& Archive, int64_t Remaining);
  // EntryName from a header's name bytes, flags, host (kHostUnknown for a local header) and
  // extra field.
  void SetEntryName(const std::string& Stored, uint16_t Flags, int32_t Host, std::span<const uint8_t> Extra);

  // While it lives, the reads of a decoder that pulls its input through ReadHook follow the
  // member of Packed bytes onto the next disk or volume of a split archive.
  class TVolumeHandOver {
   public:
    TVolumeHandOver(TUnZip& Owner, std::unique_ptr<TStream32>& Archive, int64_t Packed);
    ~TVolumeHandOver();
    TVolumeHandOver(const TVolumeHandOver&) = delete;
    TVolumeHandOver& operator=(const TVolumeHandOver&) = delete;

   private:
    TUnZip& FOwner;
    TReadHook FSaved;
    int64_t FPackedLeft;
  };

  TUnBaseHeaderObj<TUnZipRecord> FList;
  int32_t FCurrentIndex = -1;
  int64_t FHeadersListed = 0;  // central headers read by the listing, chosen or not
  bool FDirectoryCut = false;  // the listing stopped short of the directory's stated end
  int64_t FListStop = 0;       // where the listing stopped
  int64_t FListStart = 0;      // where it began
  // Where the member in work ends once read (disk from 1, offset), in a split or spanned set.
  uint16_t FMemberEndDisk = 0;
  int64_t FMemberEndOffset = 0;
  TLocalRecord FLocal;  // the local header in work
  bool FByLocal = false;
  bool FVolumeMissing = false;  // a disk or volume the run needed could not be had
  bool FLocalOnlyUnknownSize = false;
  // How this archive's passwords are keyed, once an entry has told it (CheckPasswordHeader).
  int8_t FPasswordForm = -1;
};
