#pragma once
// Volumes: the mounted file system that holds a path, and what the engine asks of it (ready,
// write-protected, label, serial number, file system, space, kind of drive). Tests declare
// simulated removable drives: a folder that answers as a removable volume of a fixed capacity
// whose "disk" (a folder, a label and a serial number) can be swapped at any time.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Kinds of drive, with the numbers of the Windows drive types that the engine stores.
enum : uint8_t {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdRom = 5,
  kDriveRamDisk = 6,
};

// File system flags in the Windows layout, as far as the mount tells them.
enum : uint32_t {
  kFsCaseSensitive = 0x1,
  kFsCasePreserved = 0x2,
  kFsUnicodeOnDisk = 0x4,
  kFsReadOnlyVolume = 0x80000,
};

// One line of /proc/self/mountinfo, with its escapes (\040 and the like) undone.
struct MountEntry {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string root;        // the folder of the file system mounted here
  std::string mountPoint;
  std::string options;     // per-mount options ("rw,relatime")
  std::string fsType;      // "ext4", "vfat", "tmpfs", "fuse.sshfs", ...
  std::string source;      // "/dev/sdb1", "//server/share", "tmpfs"
  bool readOnly = false;   // "ro" among the mount's or the super block's options
};
// Malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(const std::string& text);
// The drive type that a mount stands for: network file systems are remote, tmpfs and ramfs RAM
// disks, ISO 9660/UDF and sr devices CD-ROMs, a device the kernel calls removable removable,
// anything else fixed.
uint8_t DriveTypeOfMount(const std::string& fsType, const std::string& source, bool removableDevice);

// Label and volume id of a FAT12/16/32 boot sector with the extended boot signature 0x29.
struct FatBootInfo {
  std::string label;  // trailing blanks removed; "NO NAME" counts as none
  uint32_t serial = 0;
};
std::optional<FatBootInfo> ParseFatBootSector(const uint8_t* data, size_t size);

struct VolumeInfo {
  std::string root;            // the volume's folder: mount point, simulated drive's path
  std::string device;          // the mount's source
  std::string fsType;
  std::string label;
  uint32_t serial = 0;
  uint32_t maxNameLength = 0;
  uint32_t fsFlags = 0;
  uint8_t driveType = kDriveUnknown;
  bool readOnly = false;
  bool simulated = false;
};

// The folder that answers for path: the simulated drive it lies in, else the mount point of
// its nearest existing folder. A path that starts with "//" is an ordinary path: a network
// share answers through the folder it is mounted on.
// Empty when nothing answers.
std::string VolumeRoot(const std::string& path);
// What the volume of path tells; nullopt (errno set) when it does not answer: no disk in a
// simulated drive, a failing statvfs.
std::optional<VolumeInfo> QueryVolume(const std::string& path);
bool VolumeReady(const std::string& path);
// A read-only mount or disk; otherwise a temporary file "qrn..." is made in the volume's root
// and deleted: refused as read-only (EROFS), or not deletable, means write-protected. Other
// refusals (no permission for the root) are no write protection.
bool VolumeWriteProtected(const std::string& path);
// Bytes free for the user and in total; -1 each when the volume does not answer.
void VolumeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes);
// kDriveNoRootDir when no volume answers for path.
uint8_t VolumeDriveType(const std::string& path);
// Sets the label of a simulated disk, or of a real removable volume where its file system lets
// the kernel do it. Never touches a fixed, network or RAM volume.
bool SetVolumeLabel(const std::string& path, const std::string& label);

// A folder that acts as a removable drive while the object lives (tests only). The drive's path
// is a symbolic link to the folder of the disk in it; without a disk it dangles. Label and
// serial number belong to the disk and stay with its folder when it is taken out and put back.
// Writes through platform::WriteFile or WriteFileAt that would take the disk's used bytes (the
// sizes of its regular files) beyond the capacity are cut short with ENOSPC; a write-protected
// disk refuses to open files for writing with EROFS; platform::RenameFile into or out of the
// drive fails with EXDEV, as between two file systems. Throws std::runtime_error when path
// cannot be made.
//
// Two kinds of disk can be played as well. One that reports a full disk only when the file is
// closed, as a network share does: writes beyond the capacity go down, and platform::CloseFile
// of a file written there fails with ENOSPC while the disk holds more than its capacity. One that
// keeps no Unix modes and refuses to change them: platform::SetPublishedMode of a file there
// fails with EPERM.
class SimulatedDrive {
 public:
  static constexpr size_t kMaxLabel = 11;  // FAT's limit, which SetVolumeLabel enforces

  // The first disk is diskFolder, by default path + ".disk"; it is made when missing.
  SimulatedDrive(const std::string& path, int64_t capacity, const std::string& label, uint32_t serial,
                 const std::string& diskFolder = {});
  ~SimulatedDrive();
  SimulatedDrive(const SimulatedDrive&) = delete;
  SimulatedDrive& operator=(const SimulatedDrive&) = delete;

  // Puts the disk folder (made when missing) into the drive with a new label and serial.
  void InsertDisk(const std::string& folder, const std::string& label, uint32_t serial, bool writeProtected = false);
  // Puts a disk back with the label and serial it had (a folder never seen: empty label, 0).
  void ReinsertDisk(const std::string& folder, bool writeProtected = false);
  void EjectDisk();
  void SetWriteProtected(bool on);
  void SetFullOnlyAtClose(bool on);
  void SetModesRefused(bool on);

  const std::string& Path() const { return path_; }
  bool HasDisk() const;
  std::string DiskFolder() const;  // empty without a disk
  std::string Label() const;
  uint32_t Serial() const;
  int64_t Capacity() const { return capacity_; }
  int64_t UsedBytes() const;  // 0 without a disk

 private:
  std::string path_;
  int64_t capacity_;
};

// The hooks of platform::OpenFile and the writes; the count keeps them to one branch
// while no simulated drive exists.
namespace simulation {
extern std::atomic<int> driveCount;
// 0, or the errno with which opening path for writing is refused.
int OpenRefusal(const std::string& path);
// How many of count bytes a write at offset (-1: the current position of fd) may put down;
// error gets ENOSPC or EROFS when fewer than count.
int32_t WriteAllowance(int fd, int64_t offset, int32_t count, int& error);
// 0, or the errno with which closing fd (still open) fails: ENOSPC for a file open for writing on
// a disk that reports a full disk only at the close and now holds more than its capacity.
int CloseRefusal(int fd);
// 0, or the errno with which changing the mode of path is refused: EPERM on a disk without modes.
int ModeRefusal(const std::string& path);
// 0, or the errno with which renaming from onto to is refused: EXDEV when the two lie on
// different simulated drives, or only one of them on one.
int RenameRefusal(const std::string& from, const std::string& to);
}  // namespace simulation

}  // namespace platform
