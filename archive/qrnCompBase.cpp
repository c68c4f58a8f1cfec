#include "archive/qrnCompBase.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnFileScan.h"
#include "archive/qrnTempOut.h"
#include "archive/qrnZipRecords.h"
#include "platform/codepage.h"
#include "platform/hooks.h"

namespace {

constexpr const char* kDefaultStoreTypes[] = {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",
                                              ".JAR", ".LHA", ".LZH", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR",
                                              ".TGZ", ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO"};

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

std::string ExtensionOf(const std::string& Name) {
  const std::string n = NamePart(Name);
  const size_t p = n.rfind('.');
  return p == std::string::npos ? std::string() : n.substr(p);
}

// A file being added, read as it stood when it was opened: its size is taken once, so every pass
// over it reads that many bytes and the headers describe exactly the data written. A file that
// grows meanwhile (a log being written) gives its first Size bytes; one that shrinks cannot be
// read to its end, and the short read raises EReadError. With KeepCrc, a pass that reads it from
// the start leaves the CRC-32 of what it read, so the data pass of an enciphered file can tell
// that the file changed after the CRC pass.
//
// A file that the file system gives as empty may hold data all the same (/proc, /sys): TakeWhole
// reads it to its end once, into memory, and every pass then reads those bytes.
class TSourceFile : public TFileStream32 {
 public:
  // Opened in Folder, a descriptor of the file's folder (negative: by its full name).
  TSourceFile(const std::string& Name, int Folder) : TSourceFile(OpenSource(Name, Folder)) {}
  int64_t Size() override { return FSnapshotSize; }
  int32_t Read(void* Buffer, int32_t Count) override {
    const int64_t at = Position();
    if (at == 0) {
      FPassCrc = 0xFFFFFFFFu;
      FPassEnd = 0;
    }
    Count = static_cast<int32_t>(std::clamp<int64_t>(FSnapshotSize - at, 0, Count));
    int32_t n;
    if (FWhole) {
      if (Count > 0) std::memcpy(Buffer, FWhole->data() + at, static_cast<size_t>(Count));
      Seek(int64_t{Count}, soCurrent);
      n = Count;
    } else {
      n = THandleStream32::Read(Buffer, Count);
    }
    if (KeepCrc && n > 0 && at == FPassEnd) {
      Crc32Update(Buffer, static_cast<size_t>(n), FPassCrc);
      FPassEnd += n;
    }
    return n;
  }
  // The CRC-32 of the last pass from the start; false when it did not read the whole file.
  bool PassCrc(uint32_t& Crc) const {
    Crc = FPassCrc ^ 0xFFFFFFFFu;
    return FPassEnd == FSnapshotSize;
  }

  bool KeepCrc = false;

  // Reads a file whose size was 0 to its end. False when a read fails (the platform's last error
  // says why) or when it holds more than kWholeLimit bytes (last error EFBIG).
  bool TakeWhole() {
    auto whole = std::make_unique<std::vector<uint8_t>>();
    std::array<uint8_t, 65536> block;
    for (;;) {
      platform::SetLastError(0);
      const int32_t n = THandleStream32::Read(block.data(), static_cast<int32_t>(block.size()));
      if (n <= 0) {
        if (platform::LastError() != 0) return false;
        break;
      }
      if (whole->size() + static_cast<size_t>(n) > kWholeLimit) {
        platform::SetLastError(EFBIG);
        return false;
      }
      whole->insert(whole->end(), block.begin(), block.begin() + n);
    }
    FSnapshotSize = static_cast<int64_t>(whole->size());
    FWhole = std::move(whole);
    SetPosition(0);
    return true;
  }
  // More than this from a file of no size is not held in memory: such a file is reported.
  static constexpr size_t kWholeLimit = size_t{64} << 20;

 private:
  explicit TSourceFile(std::pair<int, int64_t> Opened)
      : TFileStream32(Opened.first, Opened.second), FSnapshotSize(Opened.first >= 0 ? Opened.second : 0) {}
  static std::pair<int, int64_t> OpenSource(const std::string& Name, int Folder) {
    int64_t size = 0;
    const int fd = Folder >= 0 ? platform::OpenFileIn(Folder, NamePart(Name), 0x40, size)
                               : platform::OpenFile(Name, 0x40, size);
    return {fd, size};
  }

  int64_t FSnapshotSize = 0;
  std::unique_ptr<std::vector<uint8_t>> FWhole;
  uint32_t FPassCrc = 0xFFFFFFFFu;
  int64_t FPassEnd = 0;
};

}  // namespace

// --- case folding and the work list ----------------------------------------------------------

std::string FoldNameCase(const std::string& Name) {
  std::string r;
  r.reserve(Name.size());
  for (size_t i = 0; i < Name.size(); ++i) {
    const auto c = static_cast<unsigned char>(Name[i]);
    if (c < 0x80) {
      r.push_back(static_cast<char>(std::toupper(c)));
      continue;
    }
    // Cyrillic lower-case letters in UTF-8: а-п D0 B0-BF, р-я D1 80-8F, ё D1 91.
    if (i + 1 < Name.size()) {
      const auto d = static_cast<unsigned char>(Name[i + 1]);
      if (c == 0xD0 && d >= 0xB0 && d <= 0xBF) {
        r.push_back(static_cast<char>(0xD0));
        r.push_back(static_cast<char>(d - 0x20));
        ++i;
        continue;
      }
      if (c == 0xD1 && d >= 0x80 && d <= 0x8F) {
        r.push_back(static_cast<char>(0xD0));
        r.push_back(static_cast<char>(d + 0x20));
        ++i;
        continue;
      }
      if (c == 0xD1 && d == 0x91) {
        r.push_back(static_cast<char>(0xD0));
        r.push_back(static_cast<char>(0x81));
        ++i;
        continue;
      }
    }
    r.push_back(static_cast<char>(c));
  }
  return r;
}

int32_t TCompHeaderList::Add(const std::string& Name, const TCompFileInfo& Info) {
  const int32_t index = Count();
  if (!AddHeader(Info, Name, 0, 0, nullptr)) throw E_RAISE("Out of memory");
  if (FIndexed) FIndex[Name].push_back(index);
  return index;
}

void TCompHeaderList::SetName(int32_t i, const std::string& Name) {
  if (FIndexed) {
    auto it = FIndex.find(Names[i]);
    if (it != FIndex.end()) {
      auto& v = it->second;
      v.erase(std::remove(v.begin(), v.end(), i), v.end());
      if (v.empty()) FIndex.erase(it);
    }
    auto& v = FIndex[Name];
    v.insert(std::lower_bound(v.begin(), v.end(), i), i);
  }
  Names[i] = Name;
}

void TCompHeaderList::BuildIndex() const {
  FIndex.clear();
  FIndex.reserve(static_cast<size_t>(Count()));
  for (int32_t i = 0; i < Count(); ++i) FIndex[Names[i]].push_back(i);
  FIndexed = true;
}

int32_t TCompHeaderList::IndexOfName(const std::string& Name) const {
  if (!FIndexed) BuildIndex();
  auto it = FIndex.find(Name);
  return it == FIndex.end() || it->second.empty() ? -1 : it->second.front();
}

void TCompHeaderList::ClearNames() { Clear(); }

void TCompHeaderList::Clear() {
  ClearList();
  FIndex.clear();
  FIndexed = false;
  Modified = false;
}

// --- construction and properties ------------------------------------------------------------

TCompBase::TCompBase() {
  FDefaultExt = FClassDefaultExt;
  for (const char* e : kDefaultStoreTypes) FStoreFilesOfType.Add(e);
}

TCompBase::~TCompBase() = default;

void TCompBase::SetArchiveFile(const std::string& Value) {
  std::string name = BackslashToSlash(Value);
  if (!name.empty() && ExtensionOf(name).empty()) name += FDefaultExt;
  FArchiveFile = name;
  // The kind is not found here: the run finds it when it opens the archive (Execute), so a
  // file that appears or changes in between is taken as it is then.
  FDirectoryPos = -1;
  *CancelRef = false;
}

void TCompBase::SetDefaultExt(const std::string& v) {
  const std::string old = FDefaultExt;
  std::string ext;
  if (v.empty() || v == ".") {
    ext = FClassDefaultExt;
  } else {
    ext = v.find('.') == std::string::npos ? "." + v : v;
    if (ext.size() > 4) ext.resize(4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  FDefaultExt = ext;
  if (FArchiveFile.empty()) return;
  const std::string cur = ExtensionOf(FArchiveFile);
  if (cur.empty())
    FArchiveFile += FDefaultExt;
  else if (SameTextAscii(cur, old))
    FArchiveFile = FArchiveFile.substr(0, FArchiveFile.size() - cur.size()) + FDefaultExt;
}

void TCompBase::AddDefaultExt() {
  if (!FArchiveFile.empty() && ExtensionOf(FArchiveFile).empty()) FArchiveFile += FDefaultExt;
}

void TCompBase::SetCompressMethod(TCompressMethod v) {
  if (v < 16 && (FSupportedMethods & (1u << v)) != 0) FCompressMethod = v;
}

uint8_t TCompBase::DeflateFlagBits(uint8_t Flags) const {
  static constexpr uint8_t bits[4] = {6, 4, 0, 2};
  return static_cast<uint8_t>(Flags | bits[FDeflateType & 3]);
}

void TCompBase::SetCurrentFileName(const std::string& Name) { FCurrentFileName = MakeStoredName(Name, FScanRoot); }

// --- names -----------------------------------------------------------------------------------


std::string TCompBase::EncodeStoredName(const std::string& Local, bool, bool& Utf8) const {
  // Folder names take the same code page as file names, so that a reader decodes a path of
  // folder entries and file entries alike. A '\' of a local name is one of its bytes.
  Utf8 = false;
  return LocalToStoredName(Local, FTranslateOemChar, Utf8);
}

void TCompBase::SetStoredName(TCompFileInfo& Info, const std::string& Local, bool Folder) const {
  Info.StoredName = EncodeStoredName(Local, Folder, Info.Utf8Name);
  Info.RawName = !platform::IsValidUtf8(Local);
  const bool oem = !Info.Utf8Name && !Info.RawName && !platform::IsAscii(Info.StoredName);
  Info.UnicodeName = oem ? Local : std::string();
}

bool TCompBase::IsStoredType(const std::string& Name) const {
  const std::string ext = ExtensionOf(Name);
  if (ext.empty()) return false;
  for (int32_t i = 0; i < FStoreFilesOfType.Count(); ++i)
    if (SameTextAscii(FStoreFilesOfType[i], ext)) return true;
  return false;
}

// --- default virtual operations --------------------------------------------------------------

void TCompBase::EntryRead(const std::string&) {}
void TCompBase::CopyEntry(TStream32&, TStream32&, TCompHeaderList&, int32_t) {}
void TCompBase::BuildCentralHeader(int32_t, uint32_t, TCompHeaderList&) {}
void TCompBase::FinishLocalHeader(int64_t, int64_t) {}
void TCompBase::StartLocalHeader(TCompHeaderList&, int32_t) {}
void TCompBase::HeaderFromFileInfo(std::array<uint8_t, 46>&, TCompFileInfo&, const TFileInfoRecord&) {}
void TCompBase::WriteEmptyEndRecord(TStream32&) {}
void TCompBase::EndEntry() {}
int32_t TCompBase::GetHeadSize() { return 0; }
int32_t TCompBase::GetLocalHeadSize() { return 0; }
const uint8_t* TCompBase::GetHeadPtr() { return nullptr; }
bool TCompBase::ReadCentralHeader(TStream32&, std::string&, bool) { return false; }
void TCompBase::WriteZip64Extra(TStream32&, TCompFileInfo&) {}
void TCompBase::ReadCentralDirectory(TStream32&, TCompHeaderList&) {}
bool TCompBase::OpenOldVolumes(std::unique_ptr<TStream32>&) { return true; }
bool TCompBase::TakeOverSpannedSet() { return false; }
bool TCompBase::OpenSpannedSet(std::unique_ptr<TStream32>&) { return false; }
void TCompBase::CommitComments() { TextOperation(ArchiveFile()); }
void TCompBase::ListEntries(TCompHeaderList&) {}
bool TCompBase::GetFileComment(int32_t, std::string&, std::string&) { return false; }
void TCompBase::SetFileComment(int32_t, const std::string&) { TextOperation(ArchiveFile()); }
void TCompBase::SetZipComment(const std::string&) { TextOperation(ArchiveFile()); }
int32_t TCompBase::OpenArchiveDirectory() {
  TextOperation(ArchiveFile());
  return 0;
}
bool TCompBase::WriteCentralDirectory(TStream32&, TCompHeaderList&) { return true; }
void TCompBase::FileInfoFromHeader(const std::array<uint8_t, 46>&, const TCompFileInfo&, TFileInfoRecord&) {}
int64_t TCompBase::ReadLocalHeader(TStream32&, TStream32&, std::array<uint8_t, 46>&) { return 0; }
bool TCompBase::GetZipComment(std::string&) {
  TextOperation(ArchiveFile());
  return false;
}
void TCompBase::TextOperation(const std::string& Text) { ReportError(Text, "", "0", E_UNSUPPORTED_TYPE); }

bool TCompBase::FindDirectory(std::string& Name, TStream32& Input, TCompHeaderList*, bool& DirectoryFound) {
  DirectoryFound = false;
  Input.Seek(std::max<int64_t>(FDirectoryPos, 0), soBeginning);
  return ReadCentralHeader(Input, Name, true);
}

bool TCompBase::ReadNextCentralHeader(std::string& Name, TStream32& Input, bool Central) {
  return ReadCentralHeader(Input, Name, Central);
}

// --- Compress and the run driver -------------------------------------------------------------

int32_t TCompBase::Compress() {
  OutputMode = 0;
  if (!PrepareRun()) return 0;
  return RunCompress();
}

bool TCompBase::PrepareRun() {
  FilesDone = 0;
  FFilesAdded = FFilesDeleted = 0;
  FDeletePass = false;
  FToDo = false;
  FRunFailed = false;
  FArchivePublished = false;
  MaxFileDate = 0;
  ArchiveTotal = BytesLeft = FileTotal = 0;
  ProgressByFile = ProgressByArchive = 0;
  FEncrypt = false;
  SetCancel(false);
  FHeadSize = GetHeadSize();

  if (DiskManager && !DiskManager->CheckDiskOfPath(ArchiveFile(), OnDiskInDrvErr, OnDiskWriteProtectErr,
                                                  [this](const std::string& f, const std::string& e,
                                                         const std::string& v, int32_t c) { ReportError(f, e, v, c); },
                                                  [this](TExceptionClass k, const std::string& f, const std::string& e,
                                                         const std::string& v,
                                                         int32_t c) { RaiseError(k, f, e, v, c); }))
    return false;
  FPasswordKey.clear();
  if (!FPassword.empty()) {
    const std::optional<std::string> key = PasswordKey(FPassword);
    if (!key) {
      ReportError(ArchiveFile(), "the password holds characters that code page 1251 cannot hold", "0",
                  E_INVALID_PASSWORD);
      return false;
    }
    FPasswordKey = *key;
  }
  if (FFileSpec.Count() == 0) return true;
  if (FSwitch == swDelete) {
    FDefaultDir.clear();
  } else if (FStoredDirNames == sdExplorer_Auto) {
    FDefaultDir = CommonFolder();
  } else if (FStoredDirNames == sdExplorer_UserDefineDefaultDir && FDefaultDir.empty()) {
    ReportError(ArchiveFile(), "DefaultDir", "0", E_PROPERTY_NOT_ASSIGNED);
    return false;
  }
  return true;
}

std::string TCompBase::CommonFolder() {
  std::string common = AddSlash(FolderPart(FFileSpec[0]));
  for (int32_t i = 1; i < FFileSpec.Count(); ++i) {
    const std::string f = FolderPart(FFileSpec[i]);
    size_t n = 0;
    // Folders that differ only in letter case are different folders here.
    while (n < common.size() && n < f.size() && common[n] == f[n]) ++n;
    common.resize(n);
    const size_t p = common.rfind('/');
    common.resize(p == std::string::npos ? 0 : p + 1);
  }
  return common;
}

int32_t TCompBase::RunCompress() {
  try {
    const std::string folder = FolderPart(ArchiveFile());
    if (folder.empty() || !DirExists(folder)) {
      ReportError(folder, "", "0", E_INVALID_DIRECTORY);
      return 0;
    }
    if (!ArchiveFile().empty() && !GetCancel()) {
      FMoveList.clear();
      TCompHeaderList list;
      Execute(list);
      FMoveList.clear();
    }
    FilesDone = FSwitch == swDelete ? FFilesDeleted : FFilesAdded;
    return FilesDone;
  } catch (...) {
    FilesDone = 0;
    return 0;
  }
}

bool TCompBase::CanWriteArchive() {
  if (GetCancel()) return false;
  if (IsPlainFile(ArchiveFile())) return true;
  if (!OnNonWriteableArchive) {
    ReportError(ArchiveFile(), "OnNonWriteableArchive", "0", E_EVENT_NOT_ASSIGNED);
    return false;
  }
  bool writeToFile = false;
  OnNonWriteableArchive(this, ArchiveFile(), writeToFile);
  if (!writeToFile) return false;
  if (!platform::SetFileAttributes(ArchiveFile(), platform::kAttrNormal)) return false;
  // A name that starts with a dot stays hidden whatever its attributes: that bit alone does not
  // stand in the way of the write.
  const uint32_t left = platform::GetFileAttributes(ArchiveFile());
  return left != platform::kInvalidAttributes &&
         (left & (platform::kAttrDirectory | platform::kAttrReadOnly | platform::kAttrSystem)) == 0;
}

void TCompBase::ReadEntries() {
  FilesDone = 0;
  if (!OnRead) {
    ReportError(ArchiveFile(), "OnRead", "0", E_EVENT_NOT_ASSIGNED);
    return;
  }
  TTempFileStream in(this, platform::kModeReadDenyWrite, ArchiveFile(), "");
  if (in.Handle() < 0) {
    ReportError(ArchiveFile(), "", "0", E_OPEN_ERROR);
    return;
  }
  // The entries the reader would list: the directory where detection finds it.
  DetectArcType(&in);
  std::string name;
  bool found = false;
  bool more = FindDirectory(name, in, nullptr, found);
  while (more) {
    FCurrentFileName = name;
    EntryRead(name);
    ++FilesDone;
    OnRead(this, static_cast<int32_t>(in.Position() & 0xFFFFFFFF), FilesDone);
    more = ReadNextCentralHeader(name, in, found);
  }
}

void TCompBase::TRunStreams::KeepArchive() {
  if (FileOut) FileOut->Mode = 0;
  if (MemOut) MemOut->Mode = 0;
}

bool TCompBase::MayWriteArchive() {
  FArchiveAbsent = !platform::FileExists(ArchiveFile());
  if (FSwitch == swRead) {
    if (!FArchiveAbsent) ReadEntries();
    return false;
  }
  if (FArchiveAbsent) {
    if (FSwitch != swDelete) return true;
    ReportError(ArchiveFile(), "", "0", E_NOTHING_TO_DELETE);
    return false;
  }
  return CanWriteArchive();
}

void TCompBase::BeginRun(TRunStreams& Run) {
  if (OnElapsedTime) Timer.Start();
  Run.Activated = true;
  if (OnActivate) OnActivate(this);
}

void TCompBase::EndRun(TRunStreams& Run) {
  Run.Old.reset();
  Run.FileOut.reset();
  Run.MemOut.reset();
  if (Run.Activated) {
    if (OnDeactivate) OnDeactivate(this);
    Timer.Stop();
    if (OnElapsedTime) OnElapsedTime(this, Timer.ElapsedTime);
  }
}

void TCompBase::OpenOutput(TRunStreams& Run) {
  if (FCompressionMethod == cmInMemory) {
    Run.MemOut = std::make_unique<TTempMemStream>(this, platform::kModeCreate, ArchiveFile());
    Run.MemOut->OwnCancel = CancelRef;
    Run.Output = Run.MemOut.get();
    FOutputName.clear();
  } else {
    Run.FileOut = std::make_unique<TTempFileStream>(this, platform::kModeCreate, ArchiveFile(), GetTempDir());
    if (Run.FileOut->Handle() < 0) RaiseError(Throw_EFOpenError, GetTempDir(), "", "0", E_OPEN_ERROR);
    Run.FileOut->OwnCancel = CancelRef;
    Run.Output = Run.FileOut.get();
    FOutputName = Run.FileOut->TempName;
  }
  Run.Output->CancelFlag = CancelRef;
  Run.Output->ProgressHandler = nullptr;
  FOwnFiles.clear();
  for (const std::string& own : {ArchiveFile(), FOutputName, ReplacedArchive}) {
    const auto found = own.empty() ? std::nullopt : platform::StatPath(own);
    if (found) FOwnFiles.emplace_back(found->device, found->inode);
  }
}

bool TCompBase::DetectExistingArchive(TRunStreams& Run) {
  auto file = std::make_unique<TTempFileStream>(this, platform::kModeReadDenyWrite, ArchiveFile(), "");
  if (file->Handle() < 0) RaiseError(Throw_EFOpenError, ArchiveFile(), "", "0", E_OPEN_ERROR);
  Run.OldSize = file->Size();
  // The kind of the file as it is now, whatever an earlier run found.
  const TArcType kind = DetectArcType(file.get());
  FArcType = UpdateKind(kind);
  Run.Old = std::move(file);
  if (Run.OldSize == 0) return true;
  if (TakeOverSpannedSet()) {
    // The old copy of this archive on spanned disks: its disks are read in turn and it is
    // updated as a single archive is, its entries kept; the spanned writer then replaces it
    // disk by disk, on the user's answer.
    if (!OpenSpannedSet(Run.Old)) return false;
  } else {
    // Another kind of archive, or a set spread over removable disks that nobody can change, is
    // never replaced by a zip of the new files alone.
    if (FArcType == atZipDS || !IsZipFamily(FArcType))
      RaiseError(Throw_E_RAISE, ArchiveFile(), "", "0", E_UNSUPPORTED_TYPE);
    if (!OpenOldVolumes(Run.Old)) return false;
  }
  Run.OldSize = Run.Old->Size();
  return true;
}

void TCompBase::ReadOldDirectory(TRunStreams& Run, TCompHeaderList& List) {
  if (FSwitch == swDelete) FExcludeSpec.Clear();
  ReadCentralDirectory(*Run.Old, List);
  if (!FDirectoryDamage.empty()) RaiseError(Throw_E_RAISE, ArchiveFile(), FDirectoryDamage, "0", E_BAD_FILE_HEADER);
  // Not an archive this writer can update: replacing it would lose the file.
  if (FDirectoryPos < 0) RaiseError(Throw_E_RAISE, ArchiveFile(), "", "0", E_UNSUPPORTED_TYPE);
}

void TCompBase::CopyPrefix(TRunStreams& Run, TCompHeaderList& List) {
  // Whatever stands before the first entry (a self-extractor's program, a script) stays in
  // front of the archive; the marker that opens a split set does not, as the new archive is
  // one file.
  int64_t first = List.Count() > 0 ? INT64_MAX : FDirectoryPos;
  for (int32_t i = 0; i < List.Count(); ++i) first = std::min(first, List.Info(i).LocalOffset);
  if (first == kSplitMarkerSize) {
    uint8_t marker[kSplitMarkerSize] = {};
    Run.Old->SetPosition(0);
    Run.Old->ReadBuffer(marker, kSplitMarkerSize);
    const uint32_t sig = GetLE32(std::span<const uint8_t>(marker, kSplitMarkerSize), 0);
    if (sig == kDataDescriptorSignature || sig == kSingleDiskSpanMarker) first = 0;
  }
  if (first > 0 && first <= Run.OldSize) {
    Run.Old->SetPosition(0);
    Run.Output->CopyFrom(Run.Old.get(), first);
  }
}

void TCompBase::WriteEntries(TRunStreams& Run, TCompHeaderList& List) {
  BuildFileList(List);
  if (GetCancel() || (FSwitch != swDelete && !FToDo)) {
    if (!FToDo) ReportError(ArchiveFile(), "", "0", E_NOTHING_TO_DO);
    List.Clear();
  } else {
    EntryLoop(*Run.Output, Run.Old.get(), List);
  }
}

void TCompBase::PutArchiveInPlace(TRunStreams& Run, TCompHeaderList& List) {
  if (FSwitch == swDelete && FFilesDeleted == List.Count()) WriteEmptyEndRecord(*Run.Output);
  WriteCentralDirectory(*Run.Output, List);
  if (GetCancel() && !FArchiveAbsent) {
    FFilesAdded = FFilesDeleted = 0;
    Run.KeepArchive();
  }
  ListEntries(List);
  Run.Old.reset();
  // A new archive cancelled part-way keeps the entries completed before the cancel: the move
  // itself must not stop on the flag.
  const bool cancelled = *CancelRef;
  *CancelRef = false;
  try {
    if (Run.FileOut) Run.FileOut->MoveToFinal();
    if (Run.MemOut) Run.MemOut->MoveToFinal();
  } catch (...) {
    *CancelRef = cancelled;
    throw;
  }
  *CancelRef = cancelled;
  const bool published =
      FArchivePublished || (Run.FileOut && Run.FileOut->Mode != 0) || (Run.MemOut && Run.MemOut->Mode != 0);
  Run.FileOut.reset();
  Run.MemOut.reset();
  if (OnDeactivate) OnDeactivate(this);
  Run.Activated = false;
  if (published && platform::FileExists(ArchiveFile())) {
    FDeletePass = true;
    if (FSwitch == swMove) DeleteMovedFiles(List);
  }
  Timer.Stop();
  if (OnElapsedTime) OnElapsedTime(this, Timer.ElapsedTime);
}

void TCompBase::DeleteMovedFiles(TCompHeaderList& List) {
  platform::ProcessMessages();
  if (OnProgress) OnProgress(this, 0, 0);
  if (FVerifyBeforeDelete) {
    // Only files whose entries are now in the archive on disk are deleted.
    TCompHeaderList written;
    TTempFileStream in(this, platform::kModeReadDenyWrite, ArchiveFile(), "");
    if (in.Handle() >= 0) {
      DetectArcType(&in);
      ReadCentralDirectory(in, written);
    }
    for (int32_t i = 0; i < List.Count(); ++i) {
      TCompFileInfo& info = List.Info(i);
      if (info.EntryAction != eaCompress || info.SourceName.empty() || info.SourceName.back() == '/') continue;
      if (written.IndexOfName(List.Name(i)) >= 0) FMoveList.push_back(info.SourceName);
    }
  }
  const auto max = static_cast<int32_t>(FMoveList.size());
  for (int32_t i = 0; i < max; ++i) {
    if (DeleteArchiveFile(FMoveList[static_cast<size_t>(i)], FDeleteOptions) && OnDeleteFile)
      OnDeleteFile(this, FMoveList[static_cast<size_t>(i)], i, max);
  }
}

void TCompBase::Execute(TCompHeaderList& List) {
  if (!MayWriteArchive()) return;
  TRunStreams run;
  try {
    BeginRun(run);
    OpenOutput(run);
    if (!FArchiveAbsent && !DetectExistingArchive(run)) {
      FRunFailed = true;
      run.KeepArchive();
      EndRun(run);
      return;
    }
    if (run.Old && run.OldSize > 0) {
      ReadOldDirectory(run, List);
      CopyPrefix(run, List);
    }
    WriteEntries(run, List);
    // An update that is cancelled keeps the old archive exactly as it was.
    if (GetCancel() && !FArchiveAbsent) FRunFailed = true;
    if (FRunFailed) {
      FFilesAdded = FFilesDeleted = 0;
      run.KeepArchive();
    } else if (FFilesAdded > 0 || FFilesDeleted > 0) {
      PutArchiveInPlace(run, List);
      return;
    } else {
      run.KeepArchive();
    }
    EndRun(run);
  } catch (const E_RAISE&) {
    FFilesAdded = FFilesDeleted = 0;
    run.KeepArchive();
    EndRun(run);
    throw;
  } catch (const std::exception& e) {
    // A failure of the streams has not been reported yet: the caller must hear of it.
    FFilesAdded = FFilesDeleted = 0;
    run.KeepArchive();
    const int32_t code = WriteFailureCode();
    EndRun(run);
    ReportError(ArchiveFile(), e.what(), "0", code);
    throw;
  }
}

void TCompBase::BuildFileList(TCompHeaderList& List) {
  if (FSwitch != swDelete) {
    TqrnFileScan scan;
    scan.SetUpdateList(true);
    scan.SetFileSpec(FFileSpec);
    TqrnFileAttrs attrs = FAttributes;
    if (FStoreEmptySubDirs) attrs.Include(fsDirectory);
    scan.SetAttributes(attrs);
    scan.SetAttributesEx(FAttributesEx);
    scan.SetRecurseDirs(FRecurseDirs);
    scan.SetIncludeHiddenDirs(FIncludeHiddenDirs);
    scan.OnScanFile = OnFileScanStatus;
    scan.OnRecurseDir = OnRecurseDir;
    // Whatever the walk cannot read is missing from the archive: the run says so by name.
    scan.OnScanFailure = [this](TObject*, const std::string& Path, int Error) {
      ReportError(Path, std::strerror(Error), "0", E_OPEN_ERROR);
    };
    scan.OnScanLeftOut = [this](TObject*, const std::string& Path, const std::string& Reason) {
      if (OnNotStored) OnNotStored(this, Path, Reason);
    };
    scan.OnRootDirChange = [this](TObject*, const std::string& Dir) { FScanRoot = AddSlash(Dir); };
    scan.SetOwnerList(&List);
    scan.SetFoundFileProc([this, &List](const std::string& Path, const platform::FindData& Data, TObject*) {
      ScanFilter(Path, Data, List);
    });
    scan.SetCancelFlag(CancelRef);
    scan.Scan();
    ArchiveTotal = BytesLeft = scan.FilesSize();
  }
}

void TCompBase::KeepEntry(TStream32& Old, TStream32& Output, TCompHeaderList& List, int32_t Index) {
  TCompFileInfo& info = List.Info(Index);
  Old.Seek(info.LocalOffset, soBeginning);
  FKeptInfo = &info;
  const int64_t n = ReadLocalHeader(Old, Output, List.Header(Index));
  FKeptInfo = nullptr;
  if (n <= 0) {
    // A kept entry whose local header is damaged cannot be copied: the run fails and the old
    // archive stays as it was.
    RaiseError(Throw_E_RAISE, ArchiveFile(), List.Name(Index) + ": " + FKeptFault, "0", E_BAD_FILE_HEADER);
    FRunFailed = true;
    return;
  }
  const int64_t at = Output.Size();
  Old.Seek(info.LocalOffset, soBeginning);
  Output.Seek(at, soBeginning);
  Output.CopyFrom(&Old, n);
  info.LocalOffset = at;
}

std::vector<int32_t> TCompBase::WritingOrder(TCompHeaderList& List) {
  // The stored entries (kept, renamed, refreshed, dropped) go in the order of their old
  // offsets, so that the new archive holds them in the old file's order whatever order its
  // directory lists them in; the new files follow.
  auto stored = [&](int32_t i) { return List.Info(i).EntryAction != eaCompress || List.Info(i).Refreshed; };
  std::vector<int32_t> order(static_cast<size_t>(List.Count()));
  for (int32_t i = 0; i < List.Count(); ++i) order[static_cast<size_t>(i)] = i;
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    if (stored(a) != stored(b)) return stored(a);
    return stored(a) && List.Info(a).LocalOffset < List.Info(b).LocalOffset;
  });
  return order;
}

void TCompBase::EntryLoop(TStream32& Output, TStream32* Old, TCompHeaderList& List) {
  // The folder of the files added is not held past the loop: a removable drive must come free.
  struct TReleaseFolder {
    platform::TFolderHandle& Folder;
    ~TReleaseFolder() { Folder.Close(); }
  } release{FSourceFolder};
  if (OnElapsedTime && !Timer.Running()) Timer.Start();
  const int32_t maxCount = FFilesDeleted;
  FFilesDeleted = 0;
  FEntryCount = 0;
  auto dropEntry = [&](int32_t i) {
    ++FFilesDeleted;
    if (OnDeleteFile) OnDeleteFile(this, List.Name(i), FFilesDeleted, maxCount);
  };
  const std::vector<int32_t> order = WritingOrder(List);
  for (int32_t k = 0; k < static_cast<int32_t>(order.size()); ++k) {
    if (GetCancel() || FRunFailed) break;
    const int32_t i = order[static_cast<size_t>(k)];
    FilesDone = k + 1;
    FEntryCount = k + 1;
    TCompFileInfo& info = List.Info(i);
    TFileInfoRecord rec;
    FileInfoFromHeader(info.RawHeader, info, rec);
    const int64_t outSize = Output.Size();
    switch (info.EntryAction) {
      case eaCompress: {
        const bool folder = !info.SourceName.empty() && info.SourceName.back() == '/';
        if (folder && !FStoreEmptySubDirs) {
          info.EntryAction = eaDrop;
          break;
        }
        bool ok = false;
        CompressEntry(Output, i, ok, List);
        TCompFileInfo& cur = List.Info(i);
        if (ok) {
          ++FFilesAdded;
          if (FSwitch == swMove && !folder && !FVerifyBeforeDelete) FMoveList.push_back(cur.SourceName);
          if (!cur.Refreshed) List.SetName(i, FCurrentFileName);
          if (cur.Replaces >= 0) dropEntry(cur.Replaces);
          break;
        }
        const bool cancelled = GetCancel();
        Output.SetSize(outSize);
        Output.Seek(outSize, soBeginning);
        if (cancelled) {
          --FilesDone;
          for (size_t j = static_cast<size_t>(k); j < order.size(); ++j)
            if (List.Info(order[j]).EntryAction == eaCompress) List.Info(order[j]).EntryAction = eaDrop;
          break;
        }
        cur.EntryAction = eaDrop;
        // A stored entry is never lost because the file meant to refresh or replace it could
        // not be read: it is copied as it was.
        if (cur.Refreshed && Old != nullptr) {
          cur.RawHeader = cur.OldHeader;
          cur.LocalOffset = cur.OldLocalOffset;
          cur.Extra = cur.OldExtra;
          cur.ExtraLength = static_cast<uint16_t>(cur.Extra.size());
          cur.EntryAction = eaKeep;
          cur.Refreshed = false;
          KeepEntry(*Old, Output, List, i);
        } else if (cur.Replaces >= 0 && Old != nullptr) {
          TCompFileInfo& stored = List.Info(cur.Replaces);
          stored.ReplacedBy = -1;
          stored.EntryAction = eaKeep;
          KeepEntry(*Old, Output, List, cur.Replaces);
        }
        break;
      }
      case eaKeep:
        if (Old != nullptr) KeepEntry(*Old, Output, List, i);
        break;
      case eaDrop:
        if (info.ReplacedBy < 0) dropEntry(i);
        break;
      case eaRename:
        if (Old != nullptr) {
          Old->Seek(info.LocalOffset, soBeginning);
          FKeptInfo = &info;
          CopyEntry(*Old, Output, List, i);
          FKeptInfo = nullptr;
        }
        break;
      default:
        break;
    }
  }
  Timer.Stop();
}

// --- placing found files ---------------------------------------------------------------------

void TCompBase::ScanFilter(const std::string& Path, const platform::FindData& Data, TCompHeaderList& List) {
  if ((Data.attributes & platform::kAttrDirectory) != 0) {
    if (!FStoreEmptySubDirs || !FolderHasNoFiles(Path)) return;
  }
  FileFound(Path, Data, List);
}

void TCompBase::FileFound(const std::string& Path, const platform::FindData& Data, TCompHeaderList& List) {
  const bool folder = (Data.attributes & platform::kAttrDirectory) != 0;
  const std::string full = folder ? AddSlash(Path) : Path + Data.name;
  SetCurrentFileName(full);
  if (FDeletePass) {
    if (FSwitch == swMove && !folder && (!FVerifyBeforeDelete || List.IndexOfName(FCurrentFileName) >= 0))
      DeleteArchiveFile(full, FDeleteOptions);
    return;
  }
  if (!folder && std::find(FOwnFiles.begin(), FOwnFiles.end(), std::make_pair(Data.device, Data.inode)) !=
                     FOwnFiles.end())
    return;
  // Masks with a folder part name folders as they are stored, relative to the scan root.
  if (folder || !IsExcluded(FCurrentFileName, FScanRoot)) PlaceFile(Path, Data, List);
}

void TCompBase::PlaceFile(const std::string& Path, const platform::FindData& Data, TCompHeaderList& List) {
  const bool folder = (Data.attributes & platform::kAttrDirectory) != 0;
  const uint32_t dos = FileTimeToLocalDosTime(Data.mtime);
  std::string full;
  if (!folder) {
    if (dos > MaxFileDate) MaxFileDate = dos;
    full = Path + Data.name;
  } else {
    full = AddSlash(Path);
  }
  int32_t index = -1;
  if (!FArchiveAbsent && List.Count() > 0) {
    index = List.IndexOfName(FCurrentFileName);
    if (index < 0 && FFileSpec.Count() > 1) index = List.IndexOfName(full);
  }
  if (index < 0) {
    if (FSwitch != swRefresh) AddFoundFile(full, Data, dos, List, -1);
    return;
  }
  TCompFileInfo& info = List.Info(index);
  if (info.EntryAction == eaCompress) return;

  TFileInfoRecord stored;
  FileInfoFromHeader(info.RawHeader, info, stored);
  stored.Attributes = KeepKnownAttributes(stored.Attributes);
  TFileInfoRecord found;
  found.UnpackedSize = folder ? 0 : Data.size;
  found.DosDateTime = dos;
  found.Attributes = KeepKnownAttributes(Data.attributes);
  const bool same = stored.UnpackedSize == found.UnpackedSize && stored.DosDateTime == found.DosDateTime &&
                    stored.Attributes == found.Attributes;
  if (FSwitch == swRefresh) {
    if (same) return;
    FToDo = true;
    // Refreshed in place: the file is the one found under its mask's folder, so it is read from
    // there whatever the process's current folder is.
    if (!info.Refreshed) {
      info.OldHeader = info.RawHeader;
      info.OldLocalOffset = info.LocalOffset;
      info.OldExtra = info.Extra;
    }
    info.Refreshed = true;
    info.EntryAction = eaCompress;
    info.SourceName = full;
    info.Mode = Data.mode;
    info.RootLength = static_cast<int32_t>(FScanRoot.size());
    info.UnpackedHigh = static_cast<uint16_t>(static_cast<uint64_t>(found.UnpackedSize) >> 32);
    HeaderFromFileInfo(info.RawHeader, info, found);
    return;
  }
  if (!same && AskReplace(index, full, stored, found)) {
    info.EntryAction = eaDrop;
    AddFoundFile(full, Data, dos, List, index);
    return;
  }
  FToDo = true;
  std::string newName;
  if (AskRenameDupe(index, newName, List)) {
    TCompFileInfo& st = List.Info(index);
    st.EntryAction = eaRename;
    List.SetName(index, newName);
    AddFoundFile(full, Data, dos, List, -1);
  } else {
    List.Info(index).EntryAction = eaKeep;
  }
}

void TCompBase::AddFoundFile(const std::string& FullName, const platform::FindData& Data, uint32_t Dos,
                             TCompHeaderList& List, int32_t Replaces) {
  if (FHeadSize == 0) return;
  const bool folder = (Data.attributes & platform::kAttrDirectory) != 0;
  TCompFileInfo info;
  info.EntryAction = eaCompress;
  info.HeaderEnciphered = EncryptHeaders();
  info.UnpackedHigh = folder ? 0 : static_cast<uint16_t>(static_cast<uint64_t>(Data.size) >> 32);
  info.RootLength = static_cast<int32_t>(FScanRoot.size());
  info.SourceName = FullName;
  info.Mode = Data.mode;
  info.Replaces = Replaces;
  TFileInfoRecord rec;
  rec.UnpackedSize = folder ? 0 : Data.size;
  rec.DosDateTime = Dos;
  rec.Attributes = Data.attributes;
  HeaderFromFileInfo(info.RawHeader, info, rec);
  const int32_t index = List.Add(FullName, info);
  if (Replaces >= 0) List.Info(Replaces).ReplacedBy = index;
  FToDo = true;
}

bool TCompBase::AskReplace(int32_t, const std::string& FullName, const TFileInfoRecord& Stored,
                           const TFileInfoRecord& Found) {
  if (!OnReplaceFile) {
    ReportError(FCurrentFileName, "OnReplaceFile", "0", E_EVENT_NOT_ASSIGNED);
    return false;
  }
  bool replace = false;
  Timer.Pause();
  OnReplaceFile(this, FCurrentFileName, FullName, DosDateTimeToDateTime(Stored.DosDateTime),
                DosDateTimeToDateTime(Found.DosDateTime), Stored.UnpackedSize, Found.UnpackedSize,
                static_cast<int32_t>(Stored.Attributes), static_cast<int32_t>(Found.Attributes), replace);
  Timer.Resume();
  return replace;
}

bool TCompBase::AskRenameDupe(int32_t Index, std::string& NewName, TCompHeaderList& List) {
  if (!OnRenameDupeFile) {
    ReportError(FCurrentFileName, "OnRenameDupeFile", "0", E_EVENT_NOT_ASSIGNED);
    return false;
  }
  const std::string storedName = List.Name(Index);
  std::string candidate = storedName;
  for (;;) {
    bool rename = true;
    std::string answer = candidate;
    OnRenameDupeFile(this, candidate, answer, rename);
    if (!rename) return false;
    if (!NamePart(answer).empty()) candidate = answer;
    if (candidate == storedName) return false;
    if (List.IndexOfName(candidate) < 0) break;
  }
  NewName = candidate;
  return true;
}

// --- writing one entry -----------------------------------------------------------------------

bool TCompBase::BeginEntry(TCompHeaderList& List, int32_t Index) {
  bool extract = true;
  if (OnBegin) OnBegin(this, FCurrentFileName, FilesDone, extract);
  TCompFileInfo& info = List.Info(Index);
  if (info.Refreshed)
    FCurrentFileName = List.Name(Index);
  else
    SetCurrentFileName(info.SourceName.empty() ? List.Name(Index) : info.SourceName);
  if (extract && info.EntryAction != eaRename) AskRenameFile(List, Index);
  return extract;
}

void TCompBase::AskRenameFile(TCompHeaderList& List, int32_t Index) {
  if (!OnRenameFile) return;
  for (;;) {
    std::string answer = FCurrentFileName;
    OnRenameFile(this, FCurrentFileName, answer);
    const std::string part = NamePart(answer);
    if (part.empty() || answer == FCurrentFileName) return;
    const std::string candidate = FolderPart(FCurrentFileName) + part;
    if (candidate == FCurrentFileName) return;
    if (List.IndexOfName(candidate) >= 0) continue;
    List.Info(Index).EntryAction = eaRename;
    FCurrentFileName = candidate;
    return;
  }
}

void TCompBase::CompressEntry(TStream32& Output, int32_t Index, bool& Done, TCompHeaderList& List) {
  Done = false;
  TCompFileInfo& info = List.Info(Index);
  const std::string source = info.SourceName.empty() ? List.Name(Index) : info.SourceName;
  FCurrentFileName = source;
  FScanRoot = source.substr(0, std::min<size_t>(static_cast<size_t>(std::max(info.RootLength, 0)), source.size()));
  if (!BeginEntry(List, Index)) return;
  List.Info(Index).LocalOffset = Output.Size();
  const int64_t bytesLeft = BytesLeft;
  try {
    Done = CompressFile(Output, Index, List);
  } catch (const EReadError&) {
    // Only the file being added is read here (a failed write raises another class): a file
    // that shrank or failed under the reader is left out, and the run goes on without it.
    ReportError(source, "the file could not be read to its end", "0", E_READ_ERROR);
    BytesLeft = bytesLeft - FileTotal;
    Done = false;
  } catch (...) {
    EndEntry();
    throw;
  }
  EndEntry();
}

bool TCompBase::StoreFile(TStream32& Source, TStream32& Output, TFilterState& State) {
  TStoreStream store(&Output, 32, State, CancelRef, [this](TObject* s) { ReportStreamProgress(s); });
  const int64_t size = Source.Size();
  store.StoreFrom(&Source);
  FMethodWord = 0;
  CryptState().Crc32 = State.Encrypted ? CryptState().Crc32 : (store.Crc ^ 0xFFFFFFFFu);
  return !GetCancel() && Source.Position() == size;
}

void TCompBase::WriteLocalRecord(TStream32& Output, const uint8_t* Header, int32_t HeaderSize,
                                 const std::string& Name) {
  FRecordBytes.assign(Header, Header + HeaderSize);
  FRecordBytes.insert(FRecordBytes.end(), Name.begin(), Name.end());
  Output.WriteBuffer(FRecordBytes.data(), static_cast<int32_t>(FRecordBytes.size()));
}

bool TCompBase::AddFolderEntry(TStream32& Output, int32_t Index, TCompHeaderList& List) {
  TCompFileInfo& info = List.Info(Index);
  if (!FStoreEmptySubDirs || !FolderHasNoFiles(info.SourceName)) return false;
  CryptState().Crc32 = 0xFFFFFFFFu;
  CryptState().Crc16 = 0;
  FMethodWord = 0;
  FEncrypt = false;
  SetStoredName(info, FCurrentFileName, true);
  FCurInfo = &info;
  FLocalName = info.StoredName;
  StartLocalHeader(List, Index);
  // The header goes down once its extra field is known, as a file's does.
  const int64_t start = Output.Position();
  WriteLocalRecord(Output, GetHeadPtr(), GetLocalHeadSize(), FLocalName);
  const int64_t afterName = Output.Position();
  WriteZip64Extra(Output, info);
  const int64_t end = Output.Position();
  FinishLocalHeader(end - afterName, 0);
  Output.Seek(start, soBeginning);
  WriteLocalRecord(Output, GetHeadPtr(), GetLocalHeadSize(), FLocalName);
  Output.Seek(end, soBeginning);
  BuildCentralHeader(Index, platform::kAttrDirectory, List);
  return true;
}

bool TCompBase::CompressFile(TStream32& Output, int32_t Index, TCompHeaderList& List) {
  TCompFileInfo& info = List.Info(Index);
  const std::string source = info.SourceName.empty() ? List.Name(Index) : info.SourceName;
  if (!source.empty() && source.back() == '/') return AddFolderEntry(Output, Index, List) && !GetCancel();

  TDeflateType level = FDeflateType;
  if (level != dtDeflateS && IsStoredType(FCurrentFileName)) level = dtDeflateS;
  TSourceFile in(source, FSourceFolder.For(FolderPart(source)));
  if (in.Handle() < 0) {
    ReportError(source, std::strerror(platform::LastError()), "0", E_OPEN_ERROR);
    return false;
  }
  if (in.Size() == 0) {
    if (!in.TakeWhole()) {
      ReportError(source, std::strerror(platform::LastError()), "0", E_READ_ERROR);
      return false;
    }
    // Bytes the scan did not count: the run's progress takes them in.
    ArchiveTotal += in.Size();
    BytesLeft += in.Size();
  }
  const int64_t size = in.Size();
  FEncrypt = size > 0 && !FPassword.empty();
  FMethodWord = size > 0 ? 8 : 0;
  CryptState().Crc32 = 0xFFFFFFFFu;
  FileTotal = size;
  TFilterState state;
  state.Encrypted = FEncrypt;
  state.Crc = 0xFFFFFFFFu;
  state.Cancel = CancelRef;
  state.BytesLeft = &BytesLeft;
  const int64_t bytesLeftBefore = BytesLeft;

  const std::string kept = FCurrentFileName;
  struct Restore {
    TCompBase* self;
    std::string name;
    ~Restore() { self->FCurrentFileName = name; }
  } restore{this, kept};

  info.UnpackedHigh = static_cast<uint16_t>(static_cast<uint64_t>(size) >> 32);
  SetStoredName(info, FCurrentFileName, false);
  const uint32_t attributes = GetLE32(info.RawHeader, 38);
  FCurInfo = &info;
  FLocalName = info.StoredName;
  StartLocalHeader(List, Index);
  const int64_t start = Output.Position();
  WriteLocalRecord(Output, GetHeadPtr(), GetLocalHeadSize(), FLocalName);
  const int64_t afterName = Output.Position();

  auto progress = [this](TObject* s) { ReportStreamProgress(s); };
  if (FEncrypt) {
    in.KeepCrc = true;
    const uint32_t reg = CalcStreamCRC(&in, state, CancelRef, nullptr, 0);
    CryptState().Crc32 = reg ^ 0xFFFFFFFFu;
    if (GetCancel()) return false;
  }
  WriteZip64Extra(Output, info);
  const int64_t extraEnd = Output.Position();
  BytesLeft = bytesLeftBefore;
  std::string encHeader;
  if (FEncrypt) {
    encHeader = MakeEncryptionHeader(FPasswordKey, CryptState().Crc32);
    Output.WriteBuffer(encHeader.data(), static_cast<int32_t>(encHeader.size()));
  }

  bool success;
  if (level == dtDeflateS) {
    success = StoreFile(in, Output, state);
  } else if (size <= 256) {
    TMemoryStream32& mem = FSmallDeflated;
    mem.Rewind();
    uint32_t crc = CryptState().Crc32;
    success = DeflateFile(&in, &mem, state, crc, level, progress, -15) && !GetCancel();
    CryptState().Crc32 = crc;
    if (mem.Size() > size) {
      if (FEncrypt) {
        // The keys have run on over the deflated bytes: start the cipher again.
        Output.Seek(-12, soCurrent);
        encHeader = MakeEncryptionHeader(FPasswordKey, CryptState().Crc32);
        Output.WriteBuffer(encHeader.data(), 12);
      }
      BytesLeft = bytesLeftBefore;
      in.SetPosition(0);
      state.Crc = 0xFFFFFFFFu;
      success = StoreFile(in, Output, state);
    } else {
      mem.SetPosition(0);
      if (mem.Size() > 0) Output.CopyFrom(&mem, mem.Size());
    }
  } else {
    uint32_t crc = CryptState().Crc32;
    success = DeflateFile(&in, &Output, state, crc, level, progress, -15) && !GetCancel();
    CryptState().Crc32 = crc;
  }
  if (size == 0) FMethodWord = 0;
  // The check bytes and the CRC came from the first pass; data that differs from it would be
  // stored under a CRC that it fails.
  uint32_t dataCrc = 0;
  if (FEncrypt && success && (!in.PassCrc(dataCrc) || dataCrc != CryptState().Crc32)) {
    ReportError(source, "the file changed while it was read", "0", E_READ_ERROR);
    success = false;
  }

  const int64_t end = Output.Size();
  const int64_t packed = end - afterName;
  FinishLocalHeader(packed, size);
  info.PackedHigh = static_cast<uint16_t>(static_cast<uint64_t>(end - extraEnd) >> 32);
  // A local header that cannot be completed fails the run as any write of the archive does:
  // an entry whose header keeps its placeholder sizes must never be published.
  Output.Seek(start, soBeginning);
  WriteLocalRecord(Output, GetHeadPtr(), GetLocalHeadSize(), FLocalName);
  WriteZip64Extra(Output, info);
  Output.Seek(end, soBeginning);
  if (success) BuildCentralHeader(Index, attributes, List);
  return success;
}
