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
class TComponent : public TObject {
 public:
  // Set while a form restores the component's stored properties; setters then store values as
  // given. No form of this system restores components that way, so it stays false.
  bool Loading = false;
};

// The string lists of the components (FileSpec, ExcludeSpec, Passwords, StoreFilesOfType).
class TStrings {
 public:
  void Clear() { FItems.clear(); }
  void Add(const std::string& s) { FItems.push_back(s); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const std::string& operator[](int32_t i) const { return FItems[static_cast<size_t>(i)]; }
  std::string& operator[](int32_t i) { return FItems[static_cast<size_t>(i)]; }
  void Delete(int32_t i) { FItems.erase(FItems.begin() + i); }
  void Insert(int32_t i, const std::string& s) { FItems.insert(FItems.begin() + i, s); }
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
enum : THeaderTypeState { hfLocal = 1, hfCentral = 2, hfEnd = 4, hfZip64Locator = 8, hfZip64End = 16 };

// A date-time: days since 1899-12-30, the fraction the time of day.
using TDateTime = double;

// Event types. The first argument is always the sender; a reference is a var parameter.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TOnScanFileEvent = std::function<void(TObject* Sender, const std::string& FileName, int32_t FilesCount, int64_t FilesSize)>;
using TOnFinishedEvent = std::function<void(TObject* Sender, int32_t FilesCount, int64_t FilesSize)>;
using TOnRootDirChange = std::function<void(TObject* Sender, const std::string& Dir)>;
using TOnRecurseDir = std::function<void(TObject* Sender, const std::string& Directory)>;
using TOnNotStored = std::function<void(TObject* Sender, const std::string& FileName, const std::string& Reason)>;
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

// --- display names and known extensions ---------------------------------------------------

// One display name per TArcType value, in value order (10 characters, the first 11; atMsGZ's
// ends in a tab). No operation reads them; they are for the programs' lists.
extern const char* const ArcTypeNames[35];
// Extensions of archive files, dot included; compressed data gains nothing from deflate.
extern const char* const KnownArchiveExtensions[24];

// Windows attribute bits of the attribute set members.
constexpr int32_t kFileAttrBits[9] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x800, 0x4000};

// The DOS value 0 and every invalid DOS date-time stand for 1980-01-01 00:01.
constexpr uint32_t kDefaultDosDateTime = 0x00210020;
constexpr TDateTime kFallbackDateTime = 29221.000694;

// --- paths and names ----------------------------------------------------------------------
// '/' is the folder separator of local names and of stored names.
std::string JoinPath(const std::string& Folder, const std::string& Name);
// The folder part of a name with its trailing '/' (empty without one), and the part after it.
std::string FolderPart(const std::string& Name);
std::string NamePart(const std::string& Name);
std::string AddSlash(const std::string& Path);
std::string RemoveSlash(const std::string& Path);
std::string SlashToBackslash(const std::string& Name);
std::string BackslashToSlash(const std::string& Name);

// A stored entry name to a local one: with Translate the name is read as CP866. The overload
// takes the entry's general-purpose flags: with bit 11 the stored name is UTF-8 and is never
// passed through CP866. Stored and local names both separate folders by '/' alone; a '\' is a
// byte of the name (DosNameToLocal turns the names of DOS and Windows hosts).
std::string StoredToLocalName(const std::string& Stored, bool Translate);
std::string StoredToLocalName(const std::string& Stored, bool Translate, uint16_t Flags);
constexpr uint16_t kUtf8NameFlag = 0x0800;  // general-purpose flag bit 11
// A local (UTF-8) name to a stored one: with Translate the name is written in CP866. A name
// that CP866 cannot hold (or any non-ASCII name without Translate) stays UTF-8, and
// NeedsUtf8Flag tells the caller to set flag bit 11 for it. A '\' stays a byte of the name.
std::string LocalToStoredName(const std::string& Local, bool Translate);
std::string LocalToStoredName(const std::string& Local, bool Translate, bool& NeedsUtf8Flag);
// A name as a DOS or Windows host writes it, in local form: '\' separates folders, and a letter
// and a colon before a separator are a drive, which is dropped ("c:\dir\a.txt" gives
// "/dir/a.txt"). A colon elsewhere ("c:data.txt") stays a byte of the name.
std::string DosNameToLocal(const std::string& Name);
// UTF-8 to CP866 when Translate and CP866 holds the name; else unchanged.
std::string AnsiToOemName(const std::string& Name, bool Translate);

// Position of the extension's dot in the last name component, or the name's length when the
// component has none: so the length of the name without its extension.
size_t LastDotPos(const std::string& Name);
// The name without its extension, then NewExt as given (it carries its own dot).
std::string ReplaceExtension(const std::string& Name, const std::string& NewExt);

// The share of Total in percent, rounded to the nearest integer with halves to even; 0 for a
// zero total or a negative result, at most 100.
uint8_t Percent(int64_t Total, int64_t Part);
// (Total − Done) × 100 / Total rounded as Percent, when Total > 0 and Done < Total, else 0.
int64_t PercentLeft(int64_t Total, int64_t Done);

// --- file system --------------------------------------------------------------------------
bool DirExists(const std::string& Path);
// A file or folder exists; a wildcard in the last component is matched against the folder.
bool FileExistsByFind(const std::string& NameOrMask);
// No plain file (not hidden, not a folder) in the folder.
bool FolderHasNoFiles(const std::string& Folder);
// Exists and is not a folder, read-only, system or hidden.
bool IsPlainFile(const std::string& FileName);
uint32_t KeepKnownAttributes(uint32_t Attributes);
std::string SystemTempPath();  // with its trailing '/'
// Creates every missing folder of Path; true when Path is a folder afterwards.
bool ForceDirectories(const std::string& Path);
// Text of Source before the first Separator; it and the separator are removed from Source.
// Without a separator the whole Source is the token and Source becomes empty.
std::string NextToken(std::string& Source, const std::string& Separator);
bool SameBytes(const void* A, const void* B, size_t Length);
// Longer than 2 characters and begins with two backslashes.
bool IsUNCPath(const std::string& Name);

// --- dates --------------------------------------------------------------------------------
// A DOS date-time (date high word, time low word) to days since 1899-12-30. 0 stands for
// 1980-01-01 00:01; an invalid date counts as kFallbackDateTime, an invalid time makes the
// whole result kFallbackDateTime.
TDateTime DosDateTimeToDateTime(uint32_t DosDateTime);
// A file time, seconds since the epoch UTC as platform::FindData holds it, to a local DOS
// date-time.
uint32_t FileTimeToLocalDosTime(int64_t FileTime);

// Names of the deflate option for the flag word masked to bits 1-2 (0 normal, 2 maximum,
// 4 fast, 6 super fast); any other value gives the normal name.
std::string DeflateLevelName(uint16_t Flags);
std::string Deflate64LevelName(uint16_t Flags);

// --- routines the writers and readers share -----------------------------------------------

// The wildcard matcher of the file scanner (qrnFileScan).
bool IsMaskMatch(const std::string& Name, const std::string& Mask);
// The first mask of Specs that matches Name decides: selected unless a mask of Excludes (when
// given) matches too. A mask with '.' is compared with Name + '.' when Name has no '.'.
bool MatchesFileSpec(const std::string& Name, const TStrings& Specs, const TStrings* Excludes);
// The two signatures of the 26-byte end record of archives past 4 GB: plain and enciphered.
bool IsLargeEndSignature(uint32_t Signature);
int32_t AttrsToWindows(TqrnFileAttrs Attrs);
// doAllowUndo moves an existing file to the user's Trash; doFinal deletes it for good.
bool DeleteArchiveFile(const std::string& Name, TDeleteOptions Options);
