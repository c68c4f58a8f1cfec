#include "archive/qrnFileScan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "platform/hooks.h"

namespace {

constexpr uint32_t kAttrNotContentIndexed = 0x2000;
// Bytes that are not valid UTF-8 decode to code points above Unicode, one per byte, so that
// they still match themselves and nothing else.
constexpr char32_t kInvalidByteBase = 0x110000;

char32_t DecodeAt(const std::string& s, size_t pos, size_t& len) {
  const auto c0 = static_cast<unsigned char>(s[pos]);
  len = 1;
  if (c0 < 0x80) return c0;
  size_t more;
  char32_t cp;
  char32_t least;
  if ((c0 & 0xE0) == 0xC0) {
    more = 1, cp = c0 & 0x1Fu, least = 0x80;
  } else if ((c0 & 0xF0) == 0xE0) {
    more = 2, cp = c0 & 0x0Fu, least = 0x800;
  } else if ((c0 & 0xF8) == 0xF0) {
    more = 3, cp = c0 & 0x07u, least = 0x10000;
  } else {
    return kInvalidByteBase + c0;
  }
  if (s.size() - pos <= more) return kInvalidByteBase + c0;
  for (size_t k = 1; k <= more; ++k) {
    const auto b = static_cast<unsigned char>(s[pos + k]);
    if ((b & 0xC0) != 0x80) return kInvalidByteBase + c0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalidByteBase + c0;
  len = more + 1;
  return cp;
}

char32_t UpperAscii(char32_t c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

using TElement = TInternalMask::TElement;

// Matches compiled elements against a source of characters. A star keeps only its latest
// restart point: '*' and '?' need no deeper backtracking, so the cost stays at most
// (elements x characters) whatever the mask. Src gives Size(), Len(pos) and Consumes(element, pos).
template <class Src>
bool RunMatch(const std::vector<TElement>& el, const Src& src) {
  const size_t last = el.size() - 1;  // the end element
  const size_t total = src.Size();
  size_t i = 0, s = 0, starI = 0, starS = 0;
  bool haveStar = false;
  for (;;) {
    const TElement& e = el[i];
    if (e.StarBefore) {
      if (i == last) return true;
      haveStar = true, starI = i, starS = s;
    }
    if (i == last) {
      if (s == total) return true;
    } else if (s < total && src.Consumes(e, s)) {
      s += src.Len(s);
      ++i;
      continue;
    }
    if (!haveStar || starS >= total) return false;
    starS += src.Len(starS);
    s = starS;
    i = starI;
  }
}

// A file name, with the dot that a mask ending in '.' adds to a name without one.
struct NameSource {
  const std::string& Name;
  bool AddDot;
  size_t Size() const { return Name.size() + (AddDot ? 1 : 0); }
  size_t Len(size_t pos) const {
    size_t len = 1;
    if (pos < Name.size()) DecodeAt(Name, pos, len);
    return len;
  }
  bool Consumes(const TElement& e, size_t pos) const {
    if (e.Kind == TInternalMask::ekAnyChar) return true;
    size_t len;
    const char32_t c = pos < Name.size() ? DecodeAt(Name, pos, len) : U'.';
    return UpperAscii(c) == e.Ch;
  }
};

// A compiled mask read as a name whose wildcards stand for every text they can match: only a
// star of the other mask takes a star, and a '?' takes nothing narrower than a '?'.
struct SymbolSource {
  struct Symbol {
    bool Star;
    bool Any;
    char32_t Ch;
  };
  std::vector<Symbol> Symbols;
  explicit SymbolSource(const TInternalMask& m) {
    const auto& el = m.Elements();
    for (size_t i = 0; i < el.size(); ++i) {
      if (el[i].StarBefore) Symbols.push_back({true, false, 0});
      if (i + 1 < el.size()) Symbols.push_back({false, el[i].Kind == TInternalMask::ekAnyChar, el[i].Ch});
    }
  }
  size_t Size() const { return Symbols.size(); }
  size_t Len(size_t) const { return 1; }
  bool Consumes(const TElement& e, size_t pos) const {
    const Symbol& y = Symbols[pos];
    if (y.Star) return false;
    if (e.Kind == TInternalMask::ekAnyChar) return true;
    return !y.Any && y.Ch == e.Ch;
  }
};

bool HasWildcard(const TInternalMask& m) {
  return std::any_of(m.Elements().begin(), m.Elements().end(),
                     [](const TElement& e) { return e.StarBefore || e.Kind == TInternalMask::ekAnyChar; });
}

// True only when every name that Inner matches is matched by Outer too, so that a scan group
// may drop Inner. Reading Inner as a plain name is not enough: "a*" read as a name matches
// "a?", yet "a*" takes far more files; dropping it would leave them out of the backup. Where
// the trailing-dot rule makes inclusion unclear the answer is False and both masks stay.
bool MaskCovers(const std::string& Outer, const std::string& Inner) {
  const TInternalMask outer(Outer);
  const TInternalMask inner(Inner);
  if (!HasWildcard(inner)) {
    if (!outer.Match(Inner)) return false;
    if (inner.EndsWithDot()) {
      const std::string bare = Inner.substr(0, Inner.size() - 1);
      if (bare.find('.') == std::string::npos && !outer.Match(bare)) return false;
    }
    return true;
  }
  if (outer.Count() == 1 && outer.Elements()[0].StarBefore) return true;
  if (outer.EndsWithDot() || inner.EndsWithDot()) return false;
  return RunMatch(outer.Elements(), SymbolSource(inner));
}


bool IsBlank(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::string CurrentFolder() {
  std::error_code ec;
  const auto p = std::filesystem::current_path(ec);
  return ec ? std::string() : AddSlash(p.string());
}

// Comma-separated masks; leading and trailing spaces of each mask dropped, empty masks skipped.
TMultiMasks SplitMasks(const std::string& text) {
  TMultiMasks out;
  std::string cur;
  auto flush = [&] {
    while (!cur.empty() && cur.back() == ' ') cur.pop_back();
    if (!cur.empty()) out.emplace_back(cur);
    cur.clear();
  };
  for (char c : text) {
    if (c == ',') {
      flush();
    } else if (c != ' ' || !cur.empty()) {
      cur += c;
    }
  }
  flush();
  return out;
}

// Case folding for sorting by name: ASCII and the Cyrillic alphabet.
char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + ('a' - 'A');
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

// Code point order, except that Ё sorts right after Е as the Russian alphabet has it.
uint64_t SortWeight(char32_t c) {
  if (c == 0x451) return 0x435u * 2 + 1;
  if (c == 0x401) return 0x415u * 2 + 1;
  return static_cast<uint64_t>(c) * 2;
}

int32_t CompareText(const std::string& a, const std::string& b, bool caseSensitive) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t la, lb;
    char32_t ca = DecodeAt(a, i, la);
    char32_t cb = DecodeAt(b, j, lb);
    if (!caseSensitive) ca = FoldCase(ca), cb = FoldCase(cb);
    const uint64_t wa = SortWeight(ca), wb = SortWeight(cb);
    if (wa != wb) return wa < wb ? -1 : 1;
    i += la, j += lb;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// Why an entry that holds no file data is left out.
std::string NoDataReason(const platform::ListFailure& x) {
  using platform::NoData;
  std::string what;
  switch (x.noData) {
    case NoData::Fifo: what = "named pipe (FIFO)"; break;
    case NoData::Socket: what = "socket"; break;
    case NoData::CharDevice: what = "character device"; break;
    case NoData::BlockDevice: what = "block device"; break;
    case NoData::NoTarget: return std::string("link to nothing: ") + std::strerror(x.error);
    case NoData::None: break;
  }
  return x.link ? "link to a " + what : what;
}

std::string Extension(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

// --- masks -------------------------------------------------------------------------------

TInternalMask::TInternalMask(const std::string& Mask) {
  bool pending = false;
  for (size_t pos = 0; pos < Mask.size();) {
    size_t len;
    const char32_t c = DecodeAt(Mask, pos, len);
    pos += len;
    if (c == U'*') {
      pending = true;
    } else if (c == U'?') {
      // After a star a '?' is dropped: "*?" compiles as "*".
      if (!pending) FElements.push_back({false, ekAnyChar, 0});
    } else {
      FElements.push_back({pending, ekLiteral, UpperAscii(c)});
      pending = false;
    }
  }
  FElements.push_back({pending, ekLiteral, 0});
  FEndsWithDot = !Mask.empty() && Mask.back() == '.';
}

bool TInternalMask::Match(const std::string& Name) const {
  const bool addDot = FEndsWithDot && Name.find('.') == std::string::npos;
  return RunMatch(FElements, NameSource{Name, addDot});
}

bool IsMaskMatch(const std::string& Name, const std::string& Mask) { return TInternalMask(Mask).Match(Name); }

// --- list of found files -----------------------------------------------------------------

int32_t TFilesList::Compare(const TFileObject& a, const TFileObject& b) const {
  switch (FSortOption) {
    case soUnsort:
      return 0;
    case soByName:
      return CompareText(a.Name, b.Name, FCaseSensitive);
    case soByType:
      return CompareText(Extension(a.Name), Extension(b.Name), FCaseSensitive);
    case soBySize:
      return a.Size() < b.Size() ? -1 : (a.Size() > b.Size() ? 1 : 0);
    case soByTime: {
      const auto ta = static_cast<int32_t>(a.DateTime), tb = static_cast<int32_t>(b.DateTime);
      return ta < tb ? -1 : (ta > tb ? 1 : 0);
    }
  }
  return 0;
}

int32_t TFilesList::Add(std::unique_ptr<TFileObject> Item) {
  if (FSortOption == soUnsort) {
    FItems.push_back(std::move(Item));
    return Count() - 1;
  }
  // Lower bound: a new object goes before those equal to it.
  int32_t low = 0, high = Count() - 1;
  while (low <= high) {
    const int32_t mid = low + (high - low) / 2;
    if (Compare(*FItems[static_cast<size_t>(mid)], *Item) < 0)
      low = mid + 1;
    else
      high = mid - 1;
  }
  FItems.insert(FItems.begin() + low, std::move(Item));
  return low;
}

void TFilesList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  FItems.erase(FItems.begin() + Index);
}

void TFilesList::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
}

void TFilesList::Sort() {
  // Switching back to soUnsort keeps the order the list has.
  if (FSortOption == soUnsort) return;
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const auto& a, const auto& b) { return Compare(*a, *b) < 0; });
}

bool TFilesList::Find(const TFileObject& Item, int32_t& Index) const {
  if (FSortOption == soUnsort) {
    for (int32_t i = 0; i < Count(); ++i) {
      if (FItems[static_cast<size_t>(i)].get() == &Item) {
        Index = i;
        return true;
      }
    }
    Index = Count();
    return false;
  }
  int32_t low = 0, high = Count() - 1;
  while (low <= high) {
    const int32_t mid = low + (high - low) / 2;
    if (Compare(*FItems[static_cast<size_t>(mid)], Item) < 0)
      low = mid + 1;
    else
      high = mid - 1;
  }
  Index = low;
  return low < Count() && Compare(*FItems[static_cast<size_t>(low)], Item) == 0;
}

// --- scanner -----------------------------------------------------------------------------

TqrnFileScan::TqrnFileScan() = default;

void TqrnFileScan::SetRootDir(const std::string& v) { FRootDir = AddSlash(v); }

void TqrnFileScan::SetFileSpec(const TStrings& v) {
  FFileSpec.Assign(v);
  FMaskString.clear();
}

void TqrnFileScan::SetSorted(TqrnSortOptions v) {
  if (v != FFilesList.SortOption()) {
    FFilesList.SetSortOption(v);
    FFilesList.Sort();
  }
  if (OnFinished && FFilesList.Count() > 0) OnFinished(this, FFilesCount, FFilesSize);
}

void TqrnFileScan::SetFoundFileProc(TFoundFileProc Proc) { FFoundFileProc = std::move(Proc); }

void TqrnFileScan::StopScan() { *FCancel = true; }

void TqrnFileScan::Scan() {
  FFilesList.Clear();
  FFilesCount = 0;
  FFilesSize = 0;
  *FCancel = false;
  // fsVolumeID is not tested.
  FIncludeBits = static_cast<uint32_t>(AttrsToWindows(FAttributes)) & ~platform::kAttrVolumeId;
  FExcludeBits = static_cast<uint32_t>(AttrsToWindows(FAttributesEx)) & ~platform::kAttrVolumeId;

  if (FMaskString.empty()) {
    ScanFileSpec();
    return;
  }
  if (FRootDir.empty() || !platform::DirectoryExists(FRootDir)) return;
  ScanRoot(FRootDir, SplitMasks(FMaskString));
  if (OnFinished) OnFinished(this, FFilesCount, FFilesSize);
}

void TqrnFileScan::ScanFileSpec() {
  for (int32_t i = FFileSpec.Count() - 1; i >= 0; --i)
    if (IsBlank(FFileSpec[i])) FFileSpec.Delete(i);

  // An entry's folder: its own folder part, else RootDir, else the current folder. Folders are
  // compared byte for byte: on this file system "Data/" and "data/" are two folders, and
  // joining them would leave one of them out of the backup.
  auto folderOf = [this](const std::string& entry) {
    std::string dir = FolderPart(entry);
    if (dir.empty()) dir = FRootDir;
    if (dir.empty()) dir = CurrentFolder();
    return dir;
  };

  while (FFileSpec.Count() > 0 && !*FCancel) {
    const std::string group = folderOf(FFileSpec[0]);
    std::vector<std::string> masks{NamePart(FFileSpec[0])};
    for (int32_t i = 1; i < FFileSpec.Count();) {
      if (folderOf(FFileSpec[i]) != group) {
        ++i;
        continue;
      }
      const std::string n = NamePart(FFileSpec[i]);
      bool hit = false;
      for (auto& m : masks) {
        if (MaskCovers(m, n)) {
          hit = true;
        } else if (MaskCovers(n, m)) {
          m = n;
          hit = true;
        }
        if (hit) break;
      }
      if (!hit) masks.push_back(n);
      FFileSpec.Delete(i);
    }
    TMultiMasks compiled;
    compiled.reserve(masks.size());
    for (const auto& m : masks) compiled.emplace_back(m.empty() || m == "*.*" ? std::string("*") : m);

    if (OnRootDirChange) OnRootDirChange(this, group);
    FFileSpec.Delete(0);
    ScanRoot(group, compiled);
  }
  if (OnFinished) OnFinished(this, FFilesCount, FFilesSize);
}

void TqrnFileScan::ScanRoot(const std::string& Folder, const TMultiMasks& Masks) {
  // Every mounted volume hangs below "/", so walking it walks every drive.
  WalkFolder(FScanOptions == soScanDrvs ? std::string("/") : Folder, Masks);
}

void TqrnFileScan::AddFoundFile(const std::string& Path, const platform::FindData& Data, TObject* List) {
  auto item = std::make_unique<TFileObject>();
  if (!(Data.attributes & platform::kAttrDirectory)) item->Name = Data.name;
  item->Path = Path;
  const auto size = static_cast<uint64_t>(Data.size);
  item->SizeLow = static_cast<uint32_t>(size);
  item->SizeHigh = static_cast<uint32_t>(size >> 32);
  item->Attributes = Data.attributes;
  item->DateTime = platform::UnixTimeToLocalDosTime(Data.mtime);
  auto* target = dynamic_cast<TFilesList*>(List);
  (target ? target : &FFilesList)->Add(std::move(item));
}

void TqrnFileScan::TakeEntry(const std::string& Folder, const platform::FindData& Data, const TMultiMasks& Masks) {
  const uint32_t w = Data.attributes;
  const bool zero = w == 0 || w == platform::kAttrNormal;
  const bool include = (w & FIncludeBits) != 0 || (zero && FAttributes.Contains(fsZeroAttr)) ||
                       (w & kAttrNotContentIndexed) != 0;
  if (!include) return;
  const bool exclude = (w & FExcludeBits) != 0 || (zero && FAttributesEx.Contains(fsZeroAttr));
  if (exclude) return;

  if (w & platform::kAttrDirectory) {
    if (!FUpdateList) return;
    const std::string path = Folder + Data.name + '/';
    if (FFoundFileProc)
      FFoundFileProc(path, Data, FOwnerList);
    else
      AddFoundFile(path, Data, FOwnerList);
    return;
  }
  const bool matched =
      std::any_of(Masks.begin(), Masks.end(), [&](const TMultiMask& m) { return m.Mask().Match(Data.name); });
  if (!matched) return;
  ++FFilesCount;
  FFilesSize += Data.size;
  if (OnScanFile) OnScanFile(this, Data.name, FFilesCount, FFilesSize);
  if (!FUpdateList) return;
  if (FFoundFileProc)
    FFoundFileProc(Folder, Data, FOwnerList);
  else
    AddFoundFile(Folder, Data, FOwnerList);
}

void TqrnFileScan::WalkFolder(const std::string& Folder, const TMultiMasks& Masks) {
  // Depth first with an explicit stack: a sub-folder is walked as soon as its entry comes up,
  // and a deep tree costs heap, not call stack. Linked folders wait until every real folder is
  // walked, so that a folder of the tree is found under its own path and not a link's. Each
  // folder is entered once, known by device and inode: a link to a parent cannot loop, and two
  // links to one folder store it once. Special files never appear in a listing: the owner hears
  // of them through OnScanLeftOut.
  struct Frame {
    std::string Folder;
    std::vector<platform::FindData> Entries;
    size_t Next = 0;
    bool Root = false;
  };
  struct LinkedFolder {
    std::string Parent;
    platform::FindData Data;
  };
  using Identity = std::pair<uint64_t, uint64_t>;
  std::vector<Frame> stack;
  std::deque<LinkedFolder> links;
  std::set<Identity> entered;
  const std::string root = AddSlash(Folder);
  if (const auto id = platform::StatPath(root)) entered.insert({id->device, id->inode});
  // The folders above the root hold it: a link to one of them (a Wine prefix's "z:" -> "/") leads
  // back into the tree, a loop as a link to a parent is, and would take in the file system.
  for (std::string up = root + ".."; !entered.empty(); up += "/..") {
    const auto id = platform::StatPath(up);
    if (!id || !entered.insert({id->device, id->inode}).second) break;
  }

  auto enter = [&](std::string f, bool isRoot) {
    if (OnRecurseDir) OnRecurseDir(this, f);
    std::vector<platform::FindData> entries;
    if (!f.empty()) {
      std::vector<platform::ListFailure> failures;
      entries = platform::ReadFolder(f, failures);
      for (const platform::ListFailure& x : failures) {
        if (x.noData != platform::NoData::None) {
          // Nothing of it is lost, but the owner may name it.
          const bool matched = std::any_of(Masks.begin(), Masks.end(),
                                           [&](const TMultiMask& m) { return m.Mask().Match(x.name); });
          if (matched && OnScanLeftOut) OnScanLeftOut(this, f + x.name, NoDataReason(x));
          continue;
        }
        // A group folder that does not exist is walked with no result; anything else that
        // cannot be read leaves files out, and the owner must hear of it.
        if (x.name.empty() && isRoot && (x.error == ENOENT || x.error == ENOTDIR)) continue;
        if (OnScanFailure) OnScanFailure(this, f + x.name, x.error);
      }
    }
    stack.push_back(Frame{std::move(f), std::move(entries), 0, isRoot});
  };
  auto mayDescend = [&](const platform::FindData& data) {
    return FRecurseDirs && (!(data.attributes & platform::kAttrHidden) || FIncludeHiddenDirs) && !*FCancel;
  };

  enter(root, true);
  for (;;) {
    if (stack.empty()) {
      if (*FCancel || links.empty()) break;
      const LinkedFolder link = std::move(links.front());
      links.pop_front();
      // Already walked under its own path or another link's: nothing of it is missing.
      if (entered.count({link.Data.device, link.Data.inode})) continue;
      TakeEntry(link.Parent, link.Data, Masks);
      if (mayDescend(link.Data)) {
        entered.insert({link.Data.device, link.Data.inode});
        enter(link.Parent + link.Data.name + '/', false);
      } else {
        platform::ProcessMessages();
      }
      continue;
    }
    const size_t top = stack.size() - 1;
    if (*FCancel || stack[top].Next >= stack[top].Entries.size()) {
      const bool wasRoot = stack[top].Root;
      stack.pop_back();
      // The entry that led into this folder is done.
      if (!wasRoot) platform::ProcessMessages();
      continue;
    }
    const platform::FindData& data = stack[top].Entries[stack[top].Next++];
    const bool folder = (data.attributes & platform::kAttrDirectory) != 0;
    if (folder && data.link) {
      links.push_back({stack[top].Folder, data});
    } else {
      TakeEntry(stack[top].Folder, data, Masks);
      if (folder && mayDescend(data) && entered.insert({data.device, data.inode}).second) {
        enter(stack[top].Folder + data.name + '/', false);
        continue;
      }
    }
    platform::ProcessMessages();
  }
}
