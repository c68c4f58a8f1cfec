// Entry names, volume names and block I/O of TZipCommon.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>
#include <climits>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"
#include "archive/qrnTempOut.h"
#include "archive/qrnZipRecords.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

constexpr int32_t kCopyChunk = 32768;
constexpr int32_t kMaxNameLength = 65535;  // the header's 16-bit length field

bool isSep(char c) { return c == '/' || c == '\\'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameTextPrefix(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(s[i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
}

bool sameText(const std::string& a, const std::string& b) { return a.size() == b.size() && sameTextPrefix(a, b); }

bool hasDrivePrefix(const std::string& s) {
  return s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]));
}

// The drive or network prefix of a local name removed: "C:/data/a" and "//srv/share/data/a"
// both give "/data/a". A plain absolute path is kept as it is.
std::string dropDrive(const std::string& name) {
  if (hasDrivePrefix(name)) return name.substr(2);
  if (name.size() > 2 && isSep(name[0]) && isSep(name[1])) {
    // The server and share ends are searched over the whole name, not its first 255 bytes.
    size_t server = name.find_first_of("/\\", 2);
    if (server == std::string::npos) return {};
    size_t share = name.find_first_of("/\\", server + 1);
    if (share == std::string::npos) return {};
    return name.substr(share);
  }
  return name;
}

std::string currentFolder() {
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return "/";
  return AddSlash(cwd);
}

// The name in Info-ZIP's Unicode Path block, when the block belongs to Stored: it carries the
// CRC-32 of the header's name, so a block left behind by a tool that renamed the entry without
// knowing it does not match and is ignored, as the peers ignore it. A block that only restates
// the header's bytes in code page 437 is ignored too: tools that take every OEM name for code
// page 437 write it so, over CP866 names as well, and it says nothing the header does not; the
// header is then read in this system's OEM code page, as a name without the block is.
std::optional<std::string> unicodePathName(std::span<const uint8_t> Extra, const std::string& Stored) {
  for (size_t at = 0; at + 4 <= Extra.size();) {
    const uint16_t tag = GetLE16(Extra, at);
    const size_t size = GetLE16(Extra, at + 2);
    if (size > Extra.size() - at - 4) break;
    if (tag == kUnicodePathExtraTag && size > 5 && Extra[at + 4] == 1) {
      uint32_t crc = 0xFFFFFFFFu;
      Crc32Update(Stored.data(), Stored.size(), crc);
      const auto name = Extra.subspan(at + 9, size - 5);
      std::string text(name.begin(), name.end());
      // Where both code pages give the same text (box-drawing characters), it is the name.
      if ((crc ^ 0xFFFFFFFFu) == GetLE32(Extra, at + 5) && platform::IsValidUtf8(text) &&
          (platform::ConvertCodePage(Stored, "CP437", "UTF-8") != text || platform::Cp866ToUtf8(Stored) == text))
        return text;
    }
    at += 4 + size;
  }
  return std::nullopt;
}

bool isArj(TArcType t) { return t == atArj || t == atArjExe; }
bool usesZipCipher(TArcType t) { return IsZipFamily(t) || t == atBh || t == atBhExe; }

}  // namespace

// --- entry names -------------------------------------------------------------------------

void TZipCommon::SetExtractDir(const std::string& Value) {
  if (!Value.empty()) {
    FExtractDir = AddSlash(Value);
    return;
  }
  const std::string archive = ArchiveFile();
  FExtractDir = archive.empty() ? std::string() : FolderPart(archive);
}

void TZipCommon::SetCurrentFileName(const std::string& Name) {
  if (Name.empty()) {
    FCurrentFileName.clear();
    return;
  }
  if (FExtractDir.empty()) {
    FExtractDir = FolderPart(ArchiveFile());
    if (FExtractDir.empty()) FExtractDir = currentFolder();
  }
  // A relative target would otherwise be read from the root; it is taken from the current folder.
  std::string target = AddSlash(FExtractDir);
  if (target[0] != '/') target = currentFolder() + target;

  // The entry's name in local form (DecodeEntryName has turned the separators and the drive of
  // a DOS or Windows host) is split at '/'; leading separators, "." and ".." are dropped, so the
  // result always lies inside the target folder. A '\' or a ':' is a byte of a name here.
  const std::string& name = Name;
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/') {
      if (!part.empty() && part != "." && part != "..") parts.push_back(part);
      part.clear();
    } else {
      part += name[i];
    }
  }
  const bool folderEntry = name.back() == '/';
  std::string fileName;
  if (!folderEntry && !parts.empty()) {
    fileName = parts.back();
    parts.pop_back();
  }
  std::string folder = target;
  if (FUseStoredDirs) {
    for (const auto& p : parts) folder += p + "/";
  }
  FCurrentFileName = folder + fileName;
}

std::string TZipCommon::MakeStoredName(const std::string& FileName, const std::string& BaseFolder) const {
  switch (FStoredDirNames) {
    case sdNone:
      return NamePart(FileName);
    case sdAbsolute:
      return FileName;
    case sdAbsoluteNoDrv:
      return dropDrive(FileName);
    case sdAbsoluteNoRoot: {
      std::string s = dropDrive(FileName);
      if (!s.empty() && isSep(s[0])) s.erase(0, 1);
      return s;
    }
    case sdRelative:
      if (!BaseFolder.empty() && sameTextPrefix(FileName, BaseFolder)) return FileName.substr(BaseFolder.size());
      return FileName;
    case sdRelativeStoreStart: {
      const std::string last = NamePart(RemoveSlash(BaseFolder));
      const size_t keep = last.size() + 1;
      if (BaseFolder.size() < keep) return FileName;
      const size_t cut = BaseFolder.size() - keep;
      return FileName.size() >= cut ? FileName.substr(cut) : FileName;
    }
    case sdExplorer_Auto:
    case sdExplorer_UserDefineDefaultDir: {
      const std::string dd = AddSlash(FDefaultDir);
      if (!BaseFolder.empty() && !dd.empty() && sameText(AddSlash(BaseFolder), dd)) {
        if (sameTextPrefix(FileName, BaseFolder)) return FileName.substr(BaseFolder.size());
        return FileName;
      }
      if (!dd.empty() && FileName.compare(0, dd.size(), dd) == 0) return FileName.substr(dd.size());
      return FileName;
    }
  }
  return FileName;
}

std::string TZipCommon::DecodeEntryName(const std::string& Stored, uint16_t Flags, int32_t Host,
                                        std::span<const uint8_t> Extra) const {
  std::string name;
  if ((Flags & kFlagUtf8) != 0) {
    name = Stored;
  } else if (auto unicode = unicodePathName(Extra, Stored)) {
    name = std::move(*unicode);
  } else {
    // Unix tools store a name's bytes as the system has them, UTF-8 here, without flag bit 11;
    // names from DOS and Windows hosts are in the OEM code page. A local header names no host:
    // a Unix tool's extra block tells one. A Unix-made name that is not UTF-8 is kept as its
    // bytes when the entry has no such block, as this writer stores a name the system holds in
    // no code page; with one it came from an archiver on a system in another code page (CP866
    // archives made on Linux exist), and the OEM translation reads it.
    const bool unixHost = IsUnixHost(Host);
    bool asStored = false;
    if (unixHost || Host == kHostUnknown) {
      const bool unixBlock = HasUnixExtraBlock(Extra.data(), Extra.size());
      asStored = platform::IsValidUtf8(Stored) ? unixHost || unixBlock : unixHost && !unixBlock;
    }
    name = StoredToLocalName(Stored, FTranslateOemChar && !asStored);
  }
  // Only a DOS or Windows host writes '\' between folders and a drive before them. A local
  // header names no host: its '\' stays a byte, which never moves a file into another folder.
  return IsDosHost(Host) ? DosNameToLocal(name) : name;
}

bool TZipCommon::IsExcluded(const std::string& FileName, const std::string& BaseFolder) const {
  for (int32_t i = 0; i < FExcludeSpec.Count(); ++i) {
    const std::string& mask = FExcludeSpec[i];
    bool hit;
    if (FRecurseDirs && mask.find('/') != std::string::npos) {
      const std::string folder = FolderPart(MakeStoredName(mask, BaseFolder));
      if (!sameTextPrefix(FolderPart(FileName), folder)) continue;
      hit = IsMaskMatch(NamePart(FileName), NamePart(mask));
    } else if (FRecurseDirs) {
      hit = IsMaskMatch(NamePart(FileName), mask);
    } else {
      hit = IsMaskMatch(FileName, MakeStoredName(mask, BaseFolder));
    }
    if (hit) return true;
  }
  return false;
}

int32_t TZipCommon::ReadName(TStream32& Stream, std::string& Name, int32_t Length) {
  Name.clear();
  const int32_t n = std::clamp(Length, 0, kMaxNameLength);
  if (n == 0) return 0;
  Name.resize(static_cast<size_t>(n));
  int32_t got = 0;
  try {
    got = std::max(0, Stream.Read(Name.data(), n));
  } catch (const EReadError&) {
    got = 0;
  }
  Name.resize(static_cast<size_t>(got));
  return got;
}

// --- volume names ------------------------------------------------------------------------

std::string TZipCommon::GetVolumeName(int32_t Index, int32_t Count) {
  if (Index >= Count) return ArchiveFile();
  char ext[16];
  std::snprintf(ext, sizeof ext, ".z%2.2d", Index + 1);
  return ReplaceExtension(VolumeFileName, ext);
}

std::string TZipCommon::GetVolumeFileName(const std::string& Name, int32_t Index) {
  if (Name.empty() || Index < 0) return {};
  const bool rar = FArcType == atRar || FArcType == atRarExe;
  std::string base = Name.substr(0, LastDotPos(Name));
  std::string ext = Name.substr(base.size());
  if (rar) {
    // "a.part1.rar" carries its part number in the extension before ".rar".
    if (sameText(ext, ".rar")) {
      const std::string inner = base.substr(LastDotPos(base));
      if (inner.size() >= 6 && sameTextPrefix(inner, ".part")) {
        ext = inner;
        base.erase(base.size() - inner.size());
      }
    }
    if (ext.size() >= 6 && sameTextPrefix(ext, ".part")) {
      std::string number = std::to_string(Index + 2);
      const size_t width = ext.size() - 5;
      if (number.size() < width) number.insert(0, width - number.size(), '0');
      return base + ".part" + number + ".rar";
    }
    if (Index > 0 && Index % 100 == 0) ++VolumeLetter;
    Index %= 100;
  }
  std::string suffix;
  if (Index <= 9) suffix = std::string(".") + VolumeLetter + "0" + std::to_string(Index);
  else if (Index <= 99) suffix = std::string(".") + VolumeLetter + std::to_string(Index);
  else suffix = "." + std::to_string(Index);
  return base + suffix;
}

bool TZipCommon::NextVolume(std::unique_ptr<TStream32>& Stream, int32_t Index, int32_t Count) {
  if (!OnNextVolume) {
    ReportError(VolumeFileName, "OnNextVolume", std::to_string(Index + 1), E_EVENT_NOT_ASSIGNED);
    SetCancel(true);
    return false;
  }
  Stream.reset();
  VolumeFileName = GetVolumeName(Index, Count);
  // Only a local header was found: the set's end is unknown, and the volumes after the one
  // open carry numbers.
  if (DirectoryFlags == hfLocal && sameText(VolumeFileName, ArchiveFile())) VolumeFileName = GetVolumeName(Index, 9999);
  const std::string id = std::to_string(Index + 1);
  for (int32_t requests = 1;; ++requests) {
    if (requests > TDiskCommon::kMaxDiskRequests) {
      ReportError(VolumeFileName, "", id, E_NOT_ACCESSIBLE);
      *CancelRef = true;  // the run ends here, without a further report
      return false;
    }
    OnNextVolume(this, VolumeFileName, id, platform::FileExists(VolumeFileName), *CancelRef);
    if (*CancelRef) {
      ReportError(VolumeFileName, "", id, E_USER_CANCELED);
      return false;
    }
    if (platform::FileExists(VolumeFileName)) break;
  }
  VolumeNumber = Index + 1;
  // Its reads count down BytesLeft and report the temporary-stream progress, as the reads of
  // an archive being updated do.
  auto volume = std::make_unique<TTempFileStream>(this, platform::kModeReadDenyWrite, VolumeFileName, "");
  if (volume->Handle() < 0) {
    ReportError(VolumeFileName, "", id, E_OPEN_ERROR);
    return false;
  }
  VolumeSize = volume->Size();
  Stream = std::move(volume);
  return true;
}

// --- blocks ------------------------------------------------------------------------------

void TZipCommon::UpdateCrc(int32_t CrcMode, const uint8_t* Buffer, int32_t Count) {
  if (Count <= 0) return;
  if (CrcMode == 16) Crc16Update(Buffer, static_cast<size_t>(Count), CryptState().Crc16);
  else if (CrcMode == 32) Crc32Update(Buffer, static_cast<size_t>(Count), CryptState().Crc32);
}

void TZipCommon::GarbleBuffer(bool Flag, uint8_t* Buffer, int32_t Count) {
  if (!Flag || Count <= 0) return;
  if (isArj(FArcType)) {
    if (FPassword.empty()) return;
    const int32_t len = static_cast<int32_t>(FPassword.size());
    if (PasswordPosition < 1 || PasswordPosition > len) PasswordPosition = 1;
    for (int32_t i = 0; i < Count; ++i) {
      Buffer[i] ^= static_cast<uint8_t>(FPassword[static_cast<size_t>(PasswordPosition - 1)]);
      PasswordPosition = PasswordPosition >= len ? 1 : PasswordPosition + 1;
    }
  } else if (usesZipCipher(FArcType)) {
    DecryptBuffer(Buffer, static_cast<size_t>(Count));
  }
}

int32_t TZipCommon::ReadBlock(TStream32& Stream, int32_t Count, int32_t CrcMode, bool Decipher, uint8_t* Buffer) {
  if (Count <= 0) return 0;
  int32_t n = 0;
  try {
    n = std::max(0, Stream.Read(Buffer, Count));
  } catch (const EReadError&) {
    n = 0;
  } catch (const EInOutError&) {
    n = 0;
  }
  GarbleBuffer(Decipher, Buffer, n);
  UpdateCrc(CrcMode, Buffer, n);
  return n;
}

int32_t TZipCommon::WriteBlock(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode) {
  if (Count <= 0) return 0;
  int32_t written = 0;
  switch (OutputMode) {
    case 0:
    case 1:
    case 2:
      if (Output) written = std::max(0, Output->Write(Buffer, Count));
      break;
    case 3: {
      // Never past the block's end: what does not fit is a short write.
      const size_t room = MemoryPosition < MemoryOutput.size() ? MemoryOutput.size() - MemoryPosition : 0;
      const size_t n = std::min(room, static_cast<size_t>(Count));
      if (n > 0) std::memcpy(MemoryOutput.data() + MemoryPosition, Buffer, n);
      MemoryPosition += n;
      written = static_cast<int32_t>(n);
      break;
    }
    default:
      return 0;
  }
  if (written < Count) {
    // Only a write that fell short is judged by the platform's last error, which may be stale.
    ReportShortWrite(OutputMode != 3 && platform::LastErrorIsDiskFull());
    return written;
  }
  if (CrcFlag == 1) UpdateCrc(CrcMode, Buffer, written);
  return written;
}

void TZipCommon::ReportShortWrite(bool DiskFull) {
  if (DiskFull) {
    FilesDone = 0;
    RaiseError(Throw_E_RAISE, ArchiveFile(), FCurrentFileName, "0", E_DISK_FULL);
    return;
  }
  if (FilesDone > 0) --FilesDone;
  ReportError(ArchiveFile(), FCurrentFileName, "0", E_WRITE_ERROR);
}

int32_t TZipCommon::WriteEncrypted(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count,
                                   int32_t CrcMode, bool Encrypt) {
  if (!(Encrypt && CrcFlag == 1 && usesZipCipher(FArcType)) || Count <= 0)
    return WriteBlock(Output, Buffer, CrcFlag, Count, CrcMode);
  // A zip CRC is of the plain data: it is taken from a copy before the bytes are enciphered.
  std::vector<uint8_t> plain(Buffer, Buffer + Count);
  EncryptBuffer(Buffer, static_cast<size_t>(Count));
  const int32_t written = WriteBlock(Output, Buffer, 0, Count, CrcMode);
  if (written == Count) UpdateCrc(CrcMode, plain.data(), written);
  return written;
}

int32_t TZipCommon::WriteDecrypted(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count,
                                   int32_t CrcMode, bool Decrypt) {
  if (Decrypt && CrcFlag == 1 && usesZipCipher(FArcType) && Count > 0) DecryptBuffer(Buffer, static_cast<size_t>(Count));
  return WriteBlock(Output, Buffer, CrcFlag, Count, CrcMode);
}

int64_t TZipCommon::CopyStoredData(TStream32& Stream, TStream32* Output, int64_t PackedSize, uint16_t Flags,
                                   int32_t CrcMode) {
  int64_t remaining = std::max<int64_t>(0, PackedSize);
  const bool encrypted = (Flags & 0x0001) != 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(remaining, kCopyChunk)) + 1);
  while (remaining > 0) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(remaining, kCopyChunk));
    const int32_t n = ReadHook(Stream, count, 0, encrypted && isArj(FArcType), buffer.data());
    if (n <= 0) break;
    BytesLeft -= n;
    const int32_t w = OutputHook(Output, buffer.data(), 1, n, CrcMode, encrypted && usesZipCipher(FArcType));
    remaining -= n;
    DoProgress(ArchiveTotal, PackedSize, PackedSize - remaining);
    // Nothing more of the entry can be put down once its output fell short.
    if (w < n || GetCancel()) break;
  }
  return remaining;
}

bool TZipCommon::ReadExtraField(TStream32& Stream, int32_t Length, TExtraHigh& Result, int32_t HeaderKind,
                                TExtraSizes& Sizes, std::vector<uint8_t>* Field) {
  Result = TExtraHigh{};
  std::vector<uint8_t> own;
  std::vector<uint8_t>& field = Field != nullptr ? *Field : own;
  field.clear();
  const int32_t want = std::clamp(Length, 0, kMaxNameLength);
  if (want == 0) return true;
  // The whole field is read first, so no block can reach outside it.
  field.resize(static_cast<size_t>(want));
  int32_t got = 0;
  try {
    got = std::max(0, Stream.Read(field.data(), want));
  } catch (const EReadError&) {
    got = 0;
  }
  field.resize(static_cast<size_t>(got));
  return ParseExtraField(field, Result, HeaderKind, Sizes) && got == want;
}

bool TZipCommon::ParseExtraField(std::span<const uint8_t> data, TExtraHigh& Result, int32_t HeaderKind,
                                 TExtraSizes& Sizes) {
  Result = TExtraHigh{};
  bool sound = true;
  size_t p = 0;
  while (p < data.size()) {
    if (data.size() - p < 4) {
      sound = false;
      break;
    }
    const uint16_t tag = GetLE16(data, p);
    const uint16_t size = GetLE16(data, p + 2);
    p += 4;
    if (size > data.size() - p) {
      sound = false;  // the block claims more than the field holds
      break;
    }
    const auto block = data.subspan(p, size);
    if (tag == kStandardZip64ExtraTag) {
      Result.Tag = tag;
      Result.Size = size;
      size_t q = 0;
      auto take = [&](uint32_t& field32, uint16_t& high) {
        if (field32 != 0xFFFFFFFFu || block.size() - q < 8) return;
        const uint64_t v = GetLE64(block, q);
        field32 = static_cast<uint32_t>(v);
        high = static_cast<uint16_t>(v >> 32);
        q += 8;
      };
      take(Sizes.UnpackedSize, Result.UnpackedHigh);
      take(Sizes.PackedSize, Result.PackedHigh);
      if (HeaderKind == 1) take(Sizes.LocalHeaderOffset, Result.OffsetHigh);
    } else if (tag == kZip64ExtraTag) {
      Result.Tag = tag;
      Result.Size = size;
      if (size >= 2) Result.PackedHigh = GetLE16(block, 0);
      if (size >= 4) Result.UnpackedHigh = GetLE16(block, 2);
      if (HeaderKind == 1 && size >= 6) Result.OffsetHigh = GetLE16(block, 4);
    }
    p += size;
  }
  return sound;
}

bool TZipCommon::CloseOutput(std::unique_ptr<TStream32>& Output) {
  switch (OutputMode) {
    case 0: {
      // A file whose close fails (a full network share says so only then) may not hold its data.
      auto* file = dynamic_cast<TFileStream32*>(Output.get());
      const bool closed = file == nullptr || file->Close();
      Output.reset();
      return closed;
    }
    case 1:
    case 2:
    case 3:
      return true;
    default:
      return false;
  }
}

std::string TZipCommon::GetCompressMethodName(uint16_t Method, uint16_t Flags, uint32_t ExternalAttributes,
                                              uint16_t MagicWord) const {
  const bool dir = (ExternalAttributes & 0x10) != 0;
  const TArcType t = FArcType;
  if (IsZipFamily(t)) {
    static const char* const names[] = {"Stored",   "Shrunk",   "Reduce-1", "Reduce-2",
                                        "Reduce-3", "Reduce-4", "Imploded", "Tokened"};
    if (Method <= 7) return names[Method];
    if (Method == 8) return DeflateLevelName(static_cast<uint16_t>(Flags & 6));
    if (Method == 9) return Deflate64LevelName(static_cast<uint16_t>(Flags & 6));
    if (Method == 10) return "DCL-implode";
    return dir ? "<Dir>" : "Unsupported";
  }
  switch (t) {
    case atGZip:
      if (Method == 0) return "Stored";
      if (Method == 8) return "Deflate";
      if (Method == 144) return "LzwMAGIC";
      if (MagicWord == 0x1E1F) return "PackMAGIC";
      if (MagicWord == 0xA01F) return "LzhMAGIC";
      break;
    case atAce:
    case atAceExe: {
      static const char* const names[] = {"Fastest", "Fast", "Normal", "Good", "Best", "Lzw"};
      if (Method <= 5) return names[Method];
      break;
    }
    case atArc:
    case atArcExe: {
      static const char* const names[] = {nullptr,   "Stored",   "Stored",   "Packed", "Squeezed", "Crunched",
                                          "Crunched", "Squashed", "Pack10",  "Pack11", "Pack12",   "Stored"};
      if (Method >= 1 && Method <= 11) return names[Method];
      if (dir) return "<Dir>";
      break;
    }
    case atArj:
    case atArjExe: {
      static const char* const names[] = {"Stored", "Most", "2nd Most", "2nd Fast"};
      if (Method <= 3) return names[Method];
      if (dir) return "<Dir>";
      break;
    }
    case atBh:
    case atBhExe: {
      static const char* const names[] = {"Stored", "Fused1", "Deflate", "Fused3"};
      if (Method <= 3) return names[Method];
      if (Method == 8) return DeflateLevelName(static_cast<uint16_t>(Flags & 6));
      break;
    }
    case atCab:
    case atCabExe: {
      const uint16_t m = Method & 15;
      static const char* const names[] = {"Stored", "MsZIP", "Quantum", "Lzx"};
      if (m <= 3) return names[m];
      return "Lzx" + std::to_string(m);
    }
    case atHA:
      switch (Method) {
        case 0: return "Cpy";
        case 1: return "Asc";
        case 2: return "HSC";
        case 14: return "<Dir>";
        case 15: return "Special";
        default: break;
      }
      break;
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe:
      if (Method == '0') return "Stored";
      if (Method >= '1' && Method <= '7') return "Frozen-" + std::string(1, static_cast<char>(Method));
      if (Method == 'd') return "<Dir>";
      break;
    case atPak:
    case atPakExe:
      switch (Method) {
        case 2: return "Stored";
        case 3: return "RLE";
        case 4: return "Squeezed";
        case 5: case 6: case 7: return "FixedLen";
        case 8: case 9: return "Varible";
        case 10: return "Crushed";
        case 11: return "Distill";
        default: break;
      }
      break;
    case atRar:
    case atRarExe: {
      if (dir) return "<Dir>";
      static const char* const names[] = {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"};
      if (Method >= 48 && Method <= 53) return names[Method - 48];
      break;
    }
    case atTar:
      if (Method == 0) return "Tarred";
      if (NamePart(FCurrentFileName).empty()) return "<Dir>";
      break;
    case atZoo: {
      static const char* const names[] = {"Stored", "Fastest", "Greatest"};
      if (Method <= 2) return names[Method];
      break;
    }
    default:
      break;
  }
  return "Unsupported";
}
