#include "archive/qrnGbls.h"

#include <cmath>
#include <cstring>

#include "archive/qrnZipRecords.h"
#include "platform/codepage.h"
#include "platform/files.h"

void Throw_E_RAISE(const std::string& Message) { throw E_RAISE(Message); }
void Throw_EFOpenError(const std::string& Message) { throw EFOpenError(Message); }

const char* const ArcTypeNames[35] = {
    "Not avail. ", "Unsupport.", "File Error", "Unknown   ", "ACE       ", "ACE SFX   ", "ARC       ",
    "ARC SFX   ", "ARJ       ", "ARJ SFX   ", "BH        ", "BH  SFX   ", "CAB       ", "CAB SFX   ",
    "GZip      ", "HA        ", "Java JAR  ", "JJAR SFX  ", "LHA       ", "LHA SFX   ", "LZH       ",
    "LZH SFX   ", "MsGZ     \t", "PAK       ", "PAK SFX   ", "RAR       ", "RAR SFX   ", "TAR       ",
    "TarGzip   ", "UUE       ", "ZIP       ", "ZIP SFX   ", "Zip Span  ", "Zip MVol  ", "ZOO       "};

const char* const KnownArchiveExtensions[24] = {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",
                                                ".JAR", ".LHA", ".LZH", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR",
                                                ".TGZ", ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO"};

namespace {

std::string replaceChar(std::string s, char from, char to) {
  for (char& c : s) {
    if (c == from) c = to;
  }
  return s;
}

bool hasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

size_t fileNameStart(const std::string& name) {
  auto slash = name.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1899-12-30 to the given Gregorian date (valid dates only).
int64_t daysSinceEpoch1899(int y, int m, int d) {
  // Days from civil (Howard Hinnant's algorithm), relative to 1970-01-01.
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t unixDays = static_cast<int64_t>(era) * 146097 + doe - 719468;
  return unixDays + 25569;  // 1899-12-30 lies 25569 days before 1970-01-01
}

// Halves go to the even neighbour, independent of the floating-point environment.
int64_t roundHalfEven(double v) {
  double f = std::floor(v);
  double diff = v - f;
  int64_t i = static_cast<int64_t>(f);
  if (diff > 0.5) return i + 1;
  if (diff < 0.5) return i;
  return (i % 2 == 0) ? i : i + 1;
}

}  // namespace

std::string JoinPath(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return {};
  if (Folder.back() == '/') return Folder + Name;
  return Folder + "/" + Name;
}

std::string AddSlash(const std::string& Path) {
  if (Path.empty() || Path.back() == '/') return Path;
  return Path + "/";
}

std::string RemoveSlash(const std::string& Path) {
  if (!Path.empty() && Path.back() == '/') return Path.substr(0, Path.size() - 1);
  return Path;
}

std::string SlashToBackslash(const std::string& Name) { return replaceChar(Name, '/', '\\'); }
std::string BackslashToSlash(const std::string& Name) { return replaceChar(Name, '\\', '/'); }

std::string StoredToLocalName(const std::string& Stored, bool Translate) {
  return StoredToLocalName(Stored, Translate, 0);
}

std::string StoredToLocalName(const std::string& Stored, bool Translate, uint16_t Flags) {
  if (Stored.empty()) return {};
  std::string name = Stored;
  if (Translate && (Flags & kUtf8NameFlag) == 0) name = platform::Cp866ToUtf8(name);
  return name;
}

std::string DosNameToLocal(const std::string& Name) {
  std::string name = BackslashToSlash(Name);
  const bool drive = name.size() >= 3 && name[1] == ':' && name[2] == '/' &&
                     ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  return drive ? name.substr(2) : name;
}

std::string LocalToStoredName(const std::string& Local, bool Translate) {
  bool unused = false;
  return LocalToStoredName(Local, Translate, unused);
}

std::string LocalToStoredName(const std::string& Local, bool Translate, bool& NeedsUtf8Flag) {
  NeedsUtf8Flag = false;
  if (Local.empty()) return {};
  if (platform::IsAscii(Local)) return Local;
  if (Translate) {
    if (auto oem = platform::Utf8ToCp866(Local)) return *oem;
  }
  // Kept as UTF-8: readers learn it from bit 11 instead of misreading it as CP866.
  NeedsUtf8Flag = platform::IsValidUtf8(Local);
  return Local;
}

std::string AnsiToOemName(const std::string& Name, bool Translate) {
  if (!Translate) return Name;
  if (auto oem = platform::Utf8ToCp866(Name)) return *oem;
  return Name;
}

size_t LastDotPos(const std::string& Name) {
  // A dot in a folder name is no extension.
  auto dot = Name.find_last_of('.');
  if (dot == std::string::npos || dot < fileNameStart(Name)) return Name.size();
  return dot;
}

std::string ReplaceExtension(const std::string& Name, const std::string& NewExt) {
  return Name.substr(0, LastDotPos(Name)) + NewExt;
}

uint8_t Percent(int64_t Total, int64_t Part) {
  if (Total == 0) return 0;
  int64_t r = roundHalfEven(static_cast<double>(Part) * 100.0 / static_cast<double>(Total));
  if (r < 0) return 0;
  if (r > 100) return 100;
  return static_cast<uint8_t>(r);
}

int64_t PercentLeft(int64_t Total, int64_t Done) {
  if (Total <= 0 || Done >= Total) return 0;
  return roundHalfEven(static_cast<double>(Total - Done) * 100.0 / static_cast<double>(Total));
}

bool DirExists(const std::string& Path) {
  uint32_t a = platform::GetFileAttributes(Path);
  return a != platform::kInvalidAttributes && (a & platform::kAttrDirectory) != 0;
}

bool FileExistsByFind(const std::string& NameOrMask) {
  if (NameOrMask.empty()) return false;
  size_t start = fileNameStart(NameOrMask);
  std::string mask = NameOrMask.substr(start);
  if (!hasWildcard(mask)) return platform::StatPath(NameOrMask).has_value();
  std::string folder = start == 0 ? std::string(".") : NameOrMask.substr(0, start);
  for (const auto& entry : platform::ListDirectory(folder)) {
    if (IsMaskMatch(entry.name, mask)) return true;
  }
  return false;
}

bool FolderHasNoFiles(const std::string& Folder) {
  constexpr uint32_t kSpecial = platform::kAttrHidden | platform::kAttrSystem | platform::kAttrVolumeId |
                                platform::kAttrDirectory;
  for (const auto& entry : platform::ListDirectory(Folder)) {
    if ((entry.attributes & kSpecial) == 0) return false;
  }
  return true;
}

bool IsPlainFile(const std::string& FileName) {
  uint32_t a = platform::GetFileAttributes(FileName);
  if (a == platform::kInvalidAttributes) return false;
  return (a & (platform::kAttrDirectory | platform::kAttrReadOnly | platform::kAttrSystem |
               platform::kAttrHidden)) == 0;
}

uint32_t KeepKnownAttributes(uint32_t Attributes) {
  return Attributes & (0x80u | 0x20u | 0x01u | 0x02u | 0x08u | 0x04u | 0x10u | 0x4000u);
}

std::string SystemTempPath() { return platform::SystemTempPath(); }

bool ForceDirectories(const std::string& Path) {
  if (Path.empty()) return false;
  if (platform::DirectoryExists(Path)) return true;
  std::string full = AddSlash(platform::AbsolutePath(Path));
  for (size_t i = 1; i < full.size(); ++i) {
    if (full[i] == '/') platform::MakeDirectory(full.substr(0, i));  // existing folders fail harmlessly
  }
  return platform::DirectoryExists(Path);
}

std::string NextToken(std::string& Source, const std::string& Separator) {
  auto pos = Separator.empty() ? std::string::npos : Source.find(Separator);
  std::string token;
  if (pos == std::string::npos) {
    token.swap(Source);
    Source.clear();
    return token;
  }
  token = Source.substr(0, pos);
  Source.erase(0, pos + Separator.size());
  return token;
}

bool SameBytes(const void* A, const void* B, size_t Length) { return std::memcmp(A, B, Length) == 0; }

bool IsUNCPath(const std::string& Name) { return Name.size() > 2 && Name[0] == '\\' && Name[1] == '\\'; }

TDateTime DosDateTimeToDateTime(uint32_t DosDateTime) {
  uint32_t v = DosDateTime == 0 ? kDefaultDosDateTime : DosDateTime;
  int year = static_cast<int>(v >> 25) + 1980;
  int month = static_cast<int>((v >> 21) & 15);
  int day = static_cast<int>((v >> 16) & 31);
  int hour = static_cast<int>((v >> 11) & 31);
  int minute = static_cast<int>((v >> 5) & 63);
  int second = static_cast<int>(v & 31) * 2;

  static constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  TDateTime date = kFallbackDateTime;
  if (year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1) {
    int last = kDaysInMonth[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
    if (day <= last) date = static_cast<TDateTime>(daysSinceEpoch1899(year, month, day));
  }
  if (hour > 23 || minute > 59 || second > 59) return kFallbackDateTime;
  return date + static_cast<TDateTime>((hour * 3600 + minute * 60 + second) * 1000) / 86400000.0;
}

uint32_t FileTimeToLocalDosTime(int64_t FileTime) { return platform::UnixTimeToLocalDosTime(FileTime); }

// Callers pass the flag word masked to bits 1-2; any other value is taken as normal.
std::string DeflateLevelName(uint16_t Flags) {
  switch (Flags) {
    case 2: return "DeflateX";
    case 4: return "DeflateF";
    case 6: return "DeflateS";
    default: return "DeflateN";
  }
}

std::string Deflate64LevelName(uint16_t Flags) {
  switch (Flags) {
    case 2: return "Def-64X";
    case 4: return "Def-64F";
    case 6: return "Def-64S";
    default: return "Def-64N";
  }
}

namespace {

bool maskMatches(const std::string& name, const std::string& mask) {
  bool nameHasDot = name.find('.', fileNameStart(name)) != std::string::npos;
  if (mask.find('.') != std::string::npos && !nameHasDot) return IsMaskMatch(name + ".", mask);
  return IsMaskMatch(name, mask);
}

}  // namespace

bool MatchesFileSpec(const std::string& Name, const TStrings& Specs, const TStrings* Excludes) {
  for (int32_t i = 0; i < Specs.Count(); ++i) {
    if (!maskMatches(Name, Specs[i])) continue;
    if (Excludes) {
      for (int32_t j = 0; j < Excludes->Count(); ++j) {
        if (maskMatches(Name, (*Excludes)[j])) return false;
      }
    }
    return true;
  }
  return false;
}

bool IsLargeEndSignature(uint32_t Signature) {
  return Signature == kLargeEndRecordSignature || Signature == kLargeEndRecordSignatureEnciphered;
}

int32_t AttrsToWindows(TqrnFileAttrs Attrs) {
  int32_t r = 0;
  for (int a = fsZeroAttr; a <= fsEncrypted; ++a) {
    if (Attrs.Contains(static_cast<TqrnFileAttr>(a))) r |= kFileAttrBits[a];
  }
  return r;
}

bool DeleteArchiveFile(const std::string& Name, TDeleteOptions Options) {
  if (Options == doAllowUndo) {
    if (!platform::FileExists(Name)) return false;
    return platform::MoveToTrash(Name);
  }
  return platform::DeleteFile(Name);
}

std::string FolderPart(const std::string& Name) {
  const size_t p = Name.rfind('/');
  return p == std::string::npos ? std::string() : Name.substr(0, p + 1);
}

std::string NamePart(const std::string& Name) {
  const size_t p = Name.rfind('/');
  return p == std::string::npos ? Name : Name.substr(p + 1);
}
