#pragma once
// Files and folders as the engine sees them: descriptors with the stream open modes, directory
// listings with the derived Windows attribute word, local DOS date-times, temporary files,
// the user's Trash, and the tick count.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Windows attribute bits, derived from POSIX metadata.
enum : uint32_t {
  kAttrReadOnly = 0x01,   // the owner cannot write
  kAttrHidden = 0x02,     // the name starts with '.'
  kAttrSystem = 0x04,
  kAttrVolumeId = 0x08,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,    // every regular file
  kAttrNormal = 0x80,
};
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// --- descriptors -------------------------------------------------------------------------
// Stream open modes: 0xFFFF creates (truncating); otherwise bits 0-1 are the access (0 read,
// 1 write, 2 both) and bits 4-6 the sharing. Sharing is recorded only: POSIX has nothing
// stronger than advisory locks, and other programs do not take them.
constexpr uint16_t kModeCreate = 0xFFFF;
// Read access, other writers refused: how an archive is opened to be read.
constexpr uint16_t kModeReadDenyWrite = 0x20;
int OpenFile(const std::string& path, uint16_t mode);  // -1 on failure, errno kept
// The same, giving the file's size as the open found it.
int OpenFile(const std::string& path, uint16_t mode, int64_t& size);
// The same for name (no folder part) in the folder that OpenFolder opened, for reading: the
// refusals of a simulated drive go by full path and are not seen here.
int OpenFileIn(int folder, const std::string& name, uint16_t mode, int64_t& size);
// A descriptor that names a folder for OpenFileIn (it reads nothing), -1 on failure.
int OpenFolder(const std::string& path);
// The last folder asked for, kept open for OpenFileIn until another is asked for or Close.
class TFolderHandle {
 public:
  TFolderHandle() = default;
  TFolderHandle(const TFolderHandle&) = delete;
  TFolderHandle& operator=(const TFolderHandle&) = delete;
  ~TFolderHandle() { Close(); }
  // The descriptor of path, -1 when it cannot be opened.
  int For(const std::string& path);
  void Close();

 private:
  std::string path_;
  int fd_ = -1;
};
int32_t ReadFile(int fd, void* buffer, int32_t count);  // bytes read, 0 on failure
int32_t WriteFile(int fd, const void* buffer, int32_t count);  // bytes written, 0 on failure
// As ReadFile and WriteFile, at offset; the descriptor's own position is neither used nor moved.
int32_t ReadFileAt(int fd, void* buffer, int32_t count, int64_t offset);
int32_t WriteFileAt(int fd, const void* buffer, int32_t count, int64_t offset);
int64_t SeekFile(int fd, int64_t offset, int origin);  // origin 0 begin, 1 current, 2 end; -1 on failure
bool TruncateFile(int fd, int64_t size);
bool FlushFile(int fd);
// The descriptor is gone afterwards whatever the result (as close(2) leaves it on Linux); false
// when the system reported an error, such as the write error that a network share keeps until
// the close.
bool CloseFile(int fd);
int64_t FileSizeOf(int fd);  // -1 on failure
// The errno of the last failed call of this thread, and whether it was "disk full".
int LastError();
// Makes Error the last error again, for a failure that is reported after other calls.
void SetLastError(int Error);
bool LastErrorIsDiskFull();

// --- metadata ----------------------------------------------------------------------------
struct FindData {
  std::string name;        // the entry's name, without folder
  uint32_t attributes;     // the Windows attribute word
  int64_t size;
  int64_t mtime;           // seconds since the epoch, UTC
  int64_t mtimeNs;         // nanoseconds part
  // The file's identity (of the target, for a link): the same file under any path has these.
  uint64_t device = 0;
  uint64_t inode = 0;
  bool link = false;       // the entry is a symbolic link; the fields above describe its target
  uint32_t mode = 0;       // its st_mode: file type and permission bits
};

// Attributes of a path (following links to files): kInvalidAttributes when it does not exist
// or is neither a regular file nor a folder.
uint32_t GetFileAttributes(const std::string& path);
// Only the read-only bit is applied: it clears or restores the owner's write bit.
bool SetFileAttributes(const std::string& path, uint32_t attributes);
// Gives a file exactly the permission bits rwx of owner, group and others in permissions; the
// set-user-ID, set-group-ID and sticky bits are never set.
bool SetFilePermissions(const std::string& path, uint32_t permissions);
// The open file fd is the file path (named for the simulated drives that refuse modes).
bool SetFilePermissions(int fd, const std::string& path, uint32_t permissions);
std::optional<FindData> StatPath(const std::string& path);
// Lists a folder: only regular files and folders (also through links to files; links to
// folders are listed as files are not, so a walk never descends into one). "." and ".." are
// not listed. The order is the file system's. Empty when the folder cannot be read.
std::vector<FindData> ListDirectory(const std::string& folder);
// Entries that hold no file data, so that leaving them out loses nothing: special files, and a
// link that leads to nothing (its target missing, or a loop of links).
enum class NoData : uint8_t { None, Fifo, Socket, CharDevice, BlockDevice, NoTarget };
// What a listing could not read: an entry (its name), or the folder itself (empty name); errno.
// An entry left out because it holds no data has noData set (and error 0 unless noData is
// NoTarget); link says that the entry is a symbolic link to what noData names.
struct ListFailure {
  std::string name;
  int error;
  NoData noData = NoData::None;
  bool link = false;
};
// Lists a folder for a walk that must account for everything in it: links to folders are listed
// as folders (link set), and whatever is not listed goes to failures: the folder itself when it
// cannot be opened or read to its end, an entry whose metadata cannot be read, a link whose
// target cannot be reached; and, marked as holding no data, FIFOs, sockets, devices, links to
// them and links to nothing.
std::vector<FindData> ReadFolder(const std::string& folder, std::vector<ListFailure>& failures);
bool IsSymlinkToDirectory(const std::string& path);

// Seconds since the epoch (UTC) to a DOS date-time in local time (date high word, time low).
uint32_t UnixTimeToLocalDosTime(int64_t seconds);
// A local DOS date-time back to seconds since the epoch.
int64_t LocalDosTimeToUnixTime(uint32_t dos);
bool SetFileModifiedTime(const std::string& path, int64_t seconds);
// The same through an open descriptor of the file.
bool SetFileModifiedTime(int fd, int64_t seconds);

// --- folders and files -------------------------------------------------------------------
bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);  // a regular file (through links)
bool MakeDirectory(const std::string& path);  // one level; true when it exists afterwards
bool RemoveDirectory(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);  // replaces `to` atomically
// Makes a new empty file with a unique name "<prefix>XXXXXX" in folder (atomically, mode 0600)
// and returns its full name, or empty on failure. The file is claimed: this process holds an
// exclusive flock on it until DeleteFile or RenameFile takes that name away, or the process ends.
std::string MakeTempFile(const std::string& folder, const std::string& prefix);
// The same, leaving the file open: its descriptor (read and write), or -1 on failure; name gets
// its full name. With published set the file is made with the mode a new file gets (0666 less
// the umask) and needs no SetPublishedMode when it replaces nothing.
int CreateTempFile(const std::string& folder, const std::string& prefix, bool published, std::string& name);
// Makes the file path, which must not exist yet (no file, folder or link of that name), with the
// mode a new file gets; its descriptor (read and write), or -1 with the error kept (EEXIST: the
// name is taken).
int CreateNewFile(const std::string& path);
// Removes from folder what runs that were killed left of their temporary files: regular files of
// this user named "<prefix>XXXXXX", not empty, last changed before this call, whose claim no live
// process holds. Returns how many it removed.
int RemoveTempLeftovers(const std::string& folder, const std::string& prefix);
// Temporary files are made 0600. Before one is published under `replacing`, it takes that
// file's permissions, or the user's default (0666 less the umask) when there is none.
bool SetPublishedMode(const std::string& path, const std::string& replacing);
// The permissions a new file gets: 0666 less the umask.
uint32_t NewFileMode();
// The system temporary folder with a trailing '/': $TMPDIR or /tmp.
std::string SystemTempPath();
// Moves a file to the freedesktop.org Trash of the user (with its .trashinfo).
bool MoveToTrash(const std::string& path);
std::string AbsolutePath(const std::string& path);
// The device id of the file system holding path (or its nearest existing folder); -1 if none.
int64_t DeviceOf(const std::string& path);

// --- time --------------------------------------------------------------------------------
uint32_t TickCount();  // milliseconds of a steady clock, wrapping at 2^32

// --- installation ------------------------------------------------------------------------
// The installation folder, without a trailing '/': $TARVELO_HOME when set; else the folder of the
// running program when it holds an installation (the programs are started from there, by the
// autostart entry and by each other); else $HOME/Tarvelo.
std::string InstallDir();
// The installation folder that a program in programDir finds without $TARVELO_HOME.
std::string InstallDirWithout(const std::string& programDir);
// An installation is where the task store is.
bool HoldsInstallation(const std::string& dir);
// The folder of the running program, without a trailing '/'.
std::string ProgramDir();

// --- locks between processes -------------------------------------------------------------
// The lock that lets one holder at a time run on a folder: an exclusive flock on the folder that
// holds path, held until the holder is destroyed or its process ends, however it ends: the system
// drops it with the process. It is seen by every other process and by every other ProcessLock of
// this one; programs started meanwhile do not inherit it. A flock needs a descriptor opened for
// reading only, so the lock holds for every user who may read the folder: where the folder
// cannot be written and path not made, and where path belongs to another user. Where the folder
// itself cannot be opened or locked (a file system that locks no folders), the file path takes its
// place, opened for writing where it can be and for reading where it cannot.
class ProcessLock {
 public:
  explicit ProcessLock(const std::string& path);
  ~ProcessLock();
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  // Another holder has it; false when it is held here, and when nothing could be locked.
  bool HeldElsewhere() const { return heldElsewhere_; }

 private:
  int fd_ = -1;
  bool heldElsewhere_ = false;
};
// Whether some holder has the lock of path now; takes nothing that a ProcessLock would miss.
bool LockHeld(const std::string& path);

}  // namespace platform
