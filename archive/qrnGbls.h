#pragma once
// Shared enumerations, event types, the library's exception class and the path, name,
// percentage and DOS date-time helpers of the engine.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/errors.h"

// The root of every object that is passed as an event's Sender.
class TObject {
 public:
  virtual ~TObject() = default;
};

// Components are owned by their form and freed with it.
class TComponent : public TObject {};

// The string lists of the components (FileSpec, ExcludeSpec, Passwords, StoreFilesOfType).
class TStrings {
 public:
  void Clear() { FItems.clear(); }
  void Add(const std::string& s) { FItems.push_back(s); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const std::string& operator[](int32_t i) const { return FItems[static_cast<size_t>(i)]; }
  std::string& operator[](int32_t i) { return FItems[static_cast<size_t>(i)]; }
  void Delete(int32_t i) { FItems.erase(FItems.begin() + i); }
  void Assign(const TStrings& other) { FItems = other.FItems; }
  const std::vector<std::string>& Items() const { return FItems; }

 private:
  std::vector<std::string> FItems;
};

// The library's exception: a message and nothing more.
class E_RAISE : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TArcType : uint8_t {
  atNA, atUnsupported, atFileOpenErr, atUnknown, atAce, atAceExe, atArc, atArcExe, atArj, atArjExe,
  atBh, atBhExe, atCab, atCabExe, atGZip, atHA, atJar, atJarExe, atLha, atLhaExe, atLzh, atLzhExe,
  atMsGZ, atPak, atPakExe, atRar, atRarExe, atTar, atTarGZip, atUUE, atZip, atZipExe, atZipDS,
  atZipMV, atZoo
};

// The archive kinds of the zip family, the only ones the engine writes and reads.
inline bool IsZipFamily(TArcType t) {
  return t == atJar || t == atJarExe || t == atZip || t == atZipExe || t == atZipDS || t == atZipMV;
}

enum TqrnFileAttr : uint8_t {
  fsZeroAttr, fsReadOnly, fsHidden, fsSysFile, fsVolumeID, fsDirectory, fsArchive, fsCompressed, fsEncrypted
};

// A set of TqrnFileAttr: bit n stands for value n.
class TqrnFileAttrs {
 public:
  constexpr TqrnFileAttrs() = default;
  constexpr TqrnFileAttrs(std::initializer_list<TqrnFileAttr> items) {
    for (auto a : items) FBits = static_cast<uint16_t>(FBits | (1u << a));
  }
  constexpr bool Contains(TqrnFileAttr a) const { return (FBits >> a) & 1u; }
  constexpr void Include(TqrnFileAttr a) { FBits = static_cast<uint16_t>(FBits | (1u << a)); }
  constexpr void Exclude(TqrnFileAttr a) { FBits = static_cast<uint16_t>(FBits & ~(1u << a)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint16_t Bits() const { return FBits; }
  constexpr bool operator==(const TqrnFileAttrs&) const = default;

 private:
  uint16_t FBits = 0;
};

enum TCompressMethod : uint8_t {
  cmStore, cmDeflate, cmFuse, cmFrozen5, cmFrozen6, cmMsZip, cmLzx, cmQuantum, cmUUEncode, cmXXEncode,
  cmBase64, cmTarred, cmTarGzip
};
enum TCompressionMethod : uint8_t { cmInMemory, cmTempFile };
enum TDeflateType : uint8_t { dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX };
enum TStoredDirNames : uint8_t {
  sdNone, sdAbsolute, sdAbsoluteNoDrv, sdAbsoluteNoRoot, sdRelative, sdRelativeStoreStart, sdExplorer_Auto,
  sdExplorer_UserDefineDefaultDir
};
enum TOverwriteMode : uint8_t { omOverwrite, omSkip };
enum TDateAttribute : uint8_t { daFileDate, daSysDate, daMaxFileDate };
enum TCpuType : uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };
enum TSwitch : uint8_t { swAdd, swRefresh, swMove, swDelete, swRead };
enum TDeleteOptions : uint8_t { doFinal, doAllowUndo };
// The zip records the directory search found: bit 0 local header, bit 1 central directory
// confirmed, bit 2 end record, bit 3 Zip64 locator, bit 4 Zip64 end record.
using THeaderTypeState = uint8_t;

// A date-time: days since 1899-12-30, the fraction the time of day.
using TDateTime = double;

// Event types. The first argument is always the sender; a reference is a var parameter.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TOnScanFileEvent = std::function<void(TObject* Sender, const std::string& FileName, int32_t FilesCount, int64_t FilesSize)>;
using TOnFinishedEvent = std::function<void(TObject* Sender, int32_t FilesCount, int64_t FilesSize)>;
using TOnRootDirChange = std::function<void(TObject* Sender, const std::string& Dir)>;
using TOnRecurseDir = std::function<void(TObject* Sender, const std::string& Directory)>;
using TOnElapsedTime = std::function<void(TObject* Sender, float ElapsedTime)>;
using TOnDeleteFile = std::function<void(TObject* Sender, const std::string& FileName, int32_t Count, int32_t MaxCount)>;
using TOnError = std::function<void(TObject* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                                    const std::string& VolumeID, int32_t ECode)>;
using TOnBegin = std::function<void(TObject* Sender, const std::string& FileName, int32_t Count, bool& Extract)>;
using TOnEnd = std::function<void(TObject* Sender, const std::string& FileName, bool CRC_PASS)>;
using TOnGetPassword = std::function<void(TObject* Sender, const std::string& FileName, std::string& Password, bool& TryAgain)>;
using TOnNextVolume = std::function<void(TObject* Sender, std::string& VolumeName, const std::string& VolumeID, bool fExists,
                                         bool& Cancel)>;
using TOnGetZipFirstDisk = std::function<void(TObject* Sender, bool& Cancel)>;
using TOnGetZipNextDisk = std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TOnGetZipLastDisk = std::function<void(TObject* Sender, bool& Cancel)>;
using TUnBase_OnFileExists = std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName,
                                                TOverwriteMode& OverwriteMode)>;
using TOnProgress = std::function<void(TObject* Sender, uint8_t ProgressByFile, uint8_t ProgressByArchive)>;
using TOnCorruptZipHeader = std::function<void(TObject* Sender, THeaderTypeState HeadFlag, bool& Cancel)>;
using TOnRenameFile = std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName)>;
using TOnClearDisk = std::function<void(TObject* Sender, const std::string& Drive, int64_t RequiredSpace, int64_t FreeSpace,
                                        int64_t TotalSpace, bool& Cancel)>;
using TOnDiskError = std::function<void(TObject* Sender, bool& Abort)>;
using TOnFileExists = std::function<void(TObject* Sender, const std::string& FileName, TDateTime FileDate,
                                         TOverwriteMode& OverwriteMode)>;
using TOnInsertDisk = std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TOnNonWriteableArchive = std::function<void(TObject* Sender, const std::string& ArchiveFile, bool& WriteToFile)>;
using TOnRead = std::function<void(TObject* Sender, int32_t Offset, int32_t Filenum)>;
using TOnRenameDupeFile = std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName,
                                             bool& Rename)>;
using TOnReplaceFile = std::function<void(TObject* Sender, const std::string& FileName, const std::string& NewFileName,
                                          TDateTime Date, TDateTime NewDate, int64_t FileSize, int64_t NewFileSize,
                                          int32_t Attr, int32_t NewAttr, bool& Replace)>;
using TTempFileMoveBegin = std::function<void(TObject* Sender, const std::string& Archive, const std::string& TempFileName)>;

// The exception class a RaiseError call names: a function that throws that class's exception
// with the given message.
using TExceptionClass = void (*)(const std::string& Message);
[[noreturn]] void Throw_E_RAISE(const std::string& Message);
[[noreturn]] void Throw_EFOpenError(const std::string& Message);
// The owner's error operations, as the disk services and the spanned-disk objects capture them.
using TRaiseErrorProc = std::function<void(TExceptionClass ExceptionClass, const std::string& FileName,
                                           const std::string& ExtendedMsg, const std::string& VolumeID, int32_t ECode)>;
using TReportErrorProc = std::function<void(const std::string& FileName, const std::string& ExtendedMsg,
                                            const std::string& VolumeID, int32_t ECode)>;
