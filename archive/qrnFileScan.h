#pragma once
// The file scanner: walks folders and reports every file whose name matches one of a group's
// wildcard masks and whose attributes pass the include and exclude tests; the wildcard matcher
// that the writer's and the reader's filters share; and a sortable list of found files.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/qrnGbls.h"
#include "platform/files.h"

enum TfsScanOptions : uint8_t { soScanDir, soScanDrvs };
enum TqrnSortOptions : uint8_t { soUnsort, soByName, soByType, soBySize, soByTime };

// Wildcard match of a file name (no folder) against a mask: '*' any run of characters, '?' one
// character, ASCII letters without case. A mask ending in '.' also matches names without a dot.
bool IsMaskMatch(const std::string& Name, const std::string& Mask);

// A compiled mask. Characters are UTF-8 code points, so '?' stands for one letter of a Cyrillic
// name as it did for one byte of code page 1251; a byte that is not valid UTF-8 is a character
// of its own.
class TInternalMask : public TObject {
 public:
  enum TElementKind : uint8_t { ekLiteral, ekAnyChar };
  struct TElement {
    bool StarBefore;
    TElementKind Kind;
    char32_t Ch;  // upper-cased for ASCII letters; the last element is the end (NUL)
  };

  explicit TInternalMask(const std::string& Mask);
  bool Match(const std::string& Name) const;

  const std::vector<TElement>& Elements() const { return FElements; }
  int32_t Count() const { return static_cast<int32_t>(FElements.size()); }
  bool EndsWithDot() const { return FEndsWithDot; }

 private:
  std::vector<TElement> FElements;
  bool FEndsWithDot = false;
};

// One compiled mask of a scan group.
class TMultiMask : public TObject {
 public:
  explicit TMultiMask(const std::string& Mask) : FMask(Mask) {}
  const TInternalMask& Mask() const { return FMask; }

 private:
  TInternalMask FMask;
};
using TMultiMasks = std::vector<TMultiMask>;

// One found file, or a folder (empty Name, Path the folder itself).
class TFileObject : public TObject {
 public:
  std::string Name;
  std::string Path;  // with a trailing '/'
  uint32_t SizeLow = 0;
  uint32_t SizeHigh = 0;
  uint32_t Attributes = 0;  // Windows attribute word
  uint32_t DateTime = 0;    // local DOS date-time

  uint64_t Size() const { return (static_cast<uint64_t>(SizeHigh) << 32) | SizeLow; }
};

class TBaseFileList : public TObject {
 public:
  virtual int32_t Add(std::unique_ptr<TFileObject> Item) = 0;
  virtual void Delete(int32_t Index) = 0;
  virtual void Clear() = 0;
  virtual void Sort() = 0;
};

// Owns its objects. With a sort option other than soUnsort, Add keeps the list in order and puts
// a new object before the ones equal to it.
class TFilesList : public TBaseFileList {
 public:
  int32_t Add(std::unique_ptr<TFileObject> Item) override;
  void Delete(int32_t Index) override;
  void Clear() override;
  void Sort() override;
  // <0, 0, >0 as a orders before, with or after b under the sort option.
  int32_t Compare(const TFileObject& a, const TFileObject& b) const;
  // Sorted: binary search for an object equal to Item; Index is where it is or would go.
  // Unsorted: the position of Item itself.
  bool Find(const TFileObject& Item, int32_t& Index) const;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const TFileObject& operator[](int32_t i) const { return *FItems[static_cast<size_t>(i)]; }
  TqrnSortOptions SortOption() const { return FSortOption; }
  void SetSortOption(TqrnSortOptions v) { FSortOption = v; }
  bool CaseSensitive() const { return FCaseSensitive; }

 private:
  std::vector<std::unique_ptr<TFileObject>> FItems;
  TqrnSortOptions FSortOption = soUnsort;
  bool FCaseSensitive = false;
};

// The per-entry callback: (folder with a trailing '/', for a folder entry the folder itself; the
// entry's find data; the owner's list as handed to SetOwnerList).
using TFoundFileProc = std::function<void(const std::string& Path, const platform::FindData& Data, TObject* List)>;

// Something below a scanned folder that the walk could not read, so whatever it holds is not
// among the found files: a folder that cannot be listed (Path ends in '/'), an entry whose
// metadata cannot be read, a link whose target cannot be reached. Error is errno.
using TOnScanFailure = std::function<void(TObject* Sender, const std::string& Path, int Error)>;
// Something below a scanned folder that holds no file data and is left out for that reason: a
// FIFO, a socket, a device, a link to one of them, or a link to nothing. Reason says which, in
// the engine's words. Only entries whose names match a mask of the group are reported.
using TOnScanLeftOut = std::function<void(TObject* Sender, const std::string& Path, const std::string& Reason)>;

class TqrnFileScan : public TComponent {
 public:
  TqrnFileScan();
  // The cancel flag and the owner's list may point into the scanner itself.
  TqrnFileScan(const TqrnFileScan&) = delete;
  TqrnFileScan& operator=(const TqrnFileScan&) = delete;

  virtual void Scan();
  virtual void StopScan();
  virtual void ScanRoot(const std::string& Folder, const TMultiMasks& Masks);
  // The default per-entry callback: adds the entry to List when that is a TFilesList (the
  // scanner's own list unless the owner hands another), else to the scanner's own list.
  virtual void AddFoundFile(const std::string& Path, const platform::FindData& Data, TObject* List);

  const std::string& RootDir() const { return FRootDir; }
  void SetRootDir(const std::string& v);
  TStrings& FileSpec() { return FFileSpec; }
  // Copies the list and switches to list mode.
  void SetFileSpec(const TStrings& v);
  TqrnFileAttrs Attributes() const { return FAttributes; }
  void SetAttributes(TqrnFileAttrs v) { FAttributes = v; }
  TqrnFileAttrs AttributesEx() const { return FAttributesEx; }
  void SetAttributesEx(TqrnFileAttrs v) { FAttributesEx = v; }
  bool RecurseDirs() const { return FRecurseDirs; }
  void SetRecurseDirs(bool v) { FRecurseDirs = v; }
  bool IncludeHiddenDirs() const { return FIncludeHiddenDirs; }
  void SetIncludeHiddenDirs(bool v) { FIncludeHiddenDirs = v; }
  TfsScanOptions ScanOptions() const { return FScanOptions; }
  void SetScanOptions(TfsScanOptions v) { FScanOptions = v; }
  bool UpdateList() const { return FUpdateList; }
  void SetUpdateList(bool v) { FUpdateList = v; }
  TqrnSortOptions Sorted() const { return FFilesList.SortOption(); }
  void SetSorted(TqrnSortOptions v);

  TOnScanFileEvent OnScanFile;
  TOnFinishedEvent OnFinished;
  TOnRootDirChange OnRootDirChange;
  TOnRecurseDir OnRecurseDir;
  TOnScanFailure OnScanFailure;
  TOnScanLeftOut OnScanLeftOut;

  // Run state.
  // A non-empty mask string (comma-separated masks) selects root-folder mode; SetFileSpec
  // empties it.
  const std::string& MaskString() const { return FMaskString; }
  void SetMaskString(const std::string& v) { FMaskString = v; }
  int32_t FilesCount() const { return FFilesCount; }
  int64_t FilesSize() const { return FFilesSize; }
  // The owner's cancel flag; nullptr returns to the scanner's own.
  void SetCancelFlag(bool* Flag) { FCancel = Flag ? Flag : &FOwnCancel; }
  bool Cancelled() const { return *FCancel; }
  // Replaces the per-entry callback; an empty one restores AddFoundFile.
  void SetFoundFileProc(TFoundFileProc Proc);
  // The list passed through to the callback; nullptr restores the scanner's own list.
  void SetOwnerList(TObject* List) { FOwnerList = List ? List : &FFilesList; }
  TFilesList& FilesList() { return FFilesList; }

 private:
  void ScanFileSpec();
  void WalkFolder(const std::string& Folder, const TMultiMasks& Masks);
  void TakeEntry(const std::string& Folder, const platform::FindData& Data, const TMultiMasks& Masks);

  std::string FRootDir = "/";
  TStrings FFileSpec;
  TqrnFileAttrs FAttributes{fsZeroAttr, fsReadOnly, fsArchive, fsCompressed, fsEncrypted};
  TqrnFileAttrs FAttributesEx;
  bool FRecurseDirs = true;
  bool FIncludeHiddenDirs = false;
  TfsScanOptions FScanOptions = soScanDir;
  bool FUpdateList = true;

  std::string FMaskString = "*";
  int32_t FFilesCount = 0;
  int64_t FFilesSize = 0;
  bool FOwnCancel = false;
  bool* FCancel = &FOwnCancel;
  TFoundFileProc FFoundFileProc;
  TFilesList FFilesList;
  TObject* FOwnerList = &FFilesList;
  // Windows words of the attribute sets, fixed for the length of one scan.
  uint32_t FIncludeBits = 0;
  uint32_t FExcludeBits = 0;
};
