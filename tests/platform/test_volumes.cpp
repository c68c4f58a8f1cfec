// Volumes: the mount table, FAT boot sectors, real volumes of this machine, and the simulated
// removable drives that the spanned-disk tests rely on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/files.h"
#include "platform/volumes.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char buf[] = "/tmp/tarvelo-volumes-XXXXXX";
    path_ = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void touch(const std::string& p, const std::string& content) { std::ofstream(p) << content; }

std::string readAll(const std::string& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

int32_t writeBytes(int fd, size_t n, char c = 'x') {
  std::vector<char> data(n, c);
  return platform::WriteFile(fd, data.data(), static_cast<int32_t>(n));
}

TEST(MountTable, ParsesOptionalFieldsEscapesAndReadOnly) {
  const std::string text =
      "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
      "garbage line\n"
      "40 27 8:17 / /media/u/My\\040Stick rw,nosuid master:3 unbindable - vfat /dev/sdb1 ro,uid=1000\n"
      "41 27 0:50 / /mnt/nas ro,relatime - cifs //server/share rw\n"
      "42 27 0:51 / /mnt/cut rw -\n";
  auto m = platform::ParseMountInfo(text);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].mountPoint, "/");
  EXPECT_EQ(m[0].fsType, "ext4");
  EXPECT_EQ(m[0].major, 254u);
  EXPECT_FALSE(m[0].readOnly);
  EXPECT_EQ(m[1].mountPoint, "/media/u/My Stick");
  EXPECT_EQ(m[1].source, "/dev/sdb1");
  EXPECT_EQ(m[1].minor, 17u);
  EXPECT_TRUE(m[1].readOnly);  // read-only by the super block's options
  EXPECT_EQ(m[2].source, "//server/share");
  EXPECT_TRUE(m[2].readOnly);  // read-only by the mount's options
}

TEST(MountTable, DriveTypeByFileSystemAndDevice) {
  using namespace platform;
  EXPECT_EQ(DriveTypeOfMount("nfs4", "srv:/export", false), kDriveRemote);
  EXPECT_EQ(DriveTypeOfMount("cifs", "//server/share", false), kDriveRemote);
  EXPECT_EQ(DriveTypeOfMount("fuse.sshfs", "u@h:", false), kDriveRemote);
  EXPECT_EQ(DriveTypeOfMount("tmpfs", "tmpfs", false), kDriveRamDisk);
  EXPECT_EQ(DriveTypeOfMount("ramfs", "none", false), kDriveRamDisk);
  EXPECT_EQ(DriveTypeOfMount("iso9660", "/dev/loop0", false), kDriveCdRom);
  EXPECT_EQ(DriveTypeOfMount("vfat", "/dev/sr0", true), kDriveCdRom);
  EXPECT_EQ(DriveTypeOfMount("vfat", "/dev/sdb1", true), kDriveRemovable);
  EXPECT_EQ(DriveTypeOfMount("ext4", "/dev/sda2", false), kDriveFixed);
  // A device merely named like a CD drive elsewhere is no CD drive.
  EXPECT_EQ(DriveTypeOfMount("ext4", "/dev/mapper/srv", false), kDriveFixed);
}

// A boot sector with the fields the parser reads, at the offsets of FAT12/16 or FAT32.
std::vector<uint8_t> bootSector(bool fat32, uint8_t signature, const char* label, uint32_t id) {
  std::vector<uint8_t> s(512, 0);
  s[11] = 0x00; s[12] = 0x02;  // 512 bytes per sector
  s[13] = 4;                   // sectors per cluster
  s[14] = fat32 ? 32 : 1;      // reserved sectors
  s[16] = 2;                   // FAT count
  if (!fat32) s[22] = 9;       // 16-bit FAT size; 0 on FAT32
  size_t ext = fat32 ? 64 : 36;
  s[ext + 2] = signature;
  for (int i = 0; i < 4; ++i) s[ext + 3 + i] = static_cast<uint8_t>(id >> (8 * i));
  std::memcpy(&s[ext + 7], label, 11);
  s[510] = 0x55; s[511] = 0xAA;
  return s;
}

TEST(FatBootSector, ReadsLabelAndVolumeIdOfBothLayouts) {
  auto fat16 = bootSector(false, 0x29, "PKBACK# 001", 0x1234ABCD);
  auto info = platform::ParseFatBootSector(fat16.data(), fat16.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "PKBACK# 001");
  EXPECT_EQ(info->serial, 0x1234ABCDu);

  auto fat32 = bootSector(true, 0x29, "BACKUP     ", 0xCAFE0001);
  info = platform::ParseFatBootSector(fat32.data(), fat32.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "BACKUP");
  EXPECT_EQ(info->serial, 0xCAFE0001u);

  auto unnamed = bootSector(false, 0x29, "NO NAME    ", 7);
  EXPECT_EQ(platform::ParseFatBootSector(unnamed.data(), unnamed.size())->label, "");
  auto idOnly = bootSector(false, 0x28, "GARBAGE!!!!", 9);
  info = platform::ParseFatBootSector(idOnly.data(), idOnly.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "");
  EXPECT_EQ(info->serial, 9u);
}

TEST(FatBootSector, RefusesWhatIsNoFatBootSector) {
  auto good = bootSector(false, 0x29, "LABEL      ", 1);
  EXPECT_FALSE(platform::ParseFatBootSector(good.data(), 511));
  auto s = good;
  s[511] = 0;
  EXPECT_FALSE(platform::ParseFatBootSector(s.data(), s.size()));
  s = good;
  s[12] = 0x03;  // 768 bytes per sector
  EXPECT_FALSE(platform::ParseFatBootSector(s.data(), s.size()));
  s = good;
  s[13] = 3;  // clusters are a power of two sectors
  EXPECT_FALSE(platform::ParseFatBootSector(s.data(), s.size()));
  s = good;
  s[38] = 0;  // no extended boot signature: the label field is not one
  EXPECT_FALSE(platform::ParseFatBootSector(s.data(), s.size()));
}

TEST(RealVolumes, RamAndFixedVolumesAreTold) {
  auto shm = platform::QueryVolume("/dev/shm");
  ASSERT_TRUE(shm);
  EXPECT_EQ(shm->root, "/dev/shm");
  EXPECT_EQ(shm->fsType, "tmpfs");
  EXPECT_EQ(shm->driveType, platform::kDriveRamDisk);

  const std::string build = TARVELO_BINARY_DIR;
  auto vol = platform::QueryVolume(build);
  ASSERT_TRUE(vol);
  EXPECT_EQ(vol->driveType, platform::kDriveFixed);
  EXPECT_EQ(build.rfind(vol->root == "/" ? "/" : vol->root + "/", 0), 0u) << vol->root;
  EXPECT_GT(vol->maxNameLength, 0u);
  int64_t freeBytes = 0, total = 0;
  platform::VolumeSpace(build, freeBytes, total);
  EXPECT_GT(total, 0);
  EXPECT_GE(freeBytes, 0);
  EXPECT_LE(freeBytes, total);

  // A path that does not exist yet is answered for by its nearest existing folder.
  const std::string future = build + "/no/such/folder/archive.zip";
  EXPECT_EQ(platform::VolumeRoot(future), vol->root);
  auto same = platform::QueryVolume(future);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->serial, vol->serial);
  EXPECT_TRUE(platform::VolumeReady(future));
}

// Whether the test file is removed again is checked on a simulated disk, where no other
// process makes files.
TEST(RealVolumes, WritableVolumesAreNotProtectedAndFixedVolumesAreNeverRelabelled) {
  EXPECT_FALSE(platform::VolumeWriteProtected("/dev/shm"));
  EXPECT_FALSE(platform::VolumeWriteProtected(TARVELO_BINARY_DIR));
  EXPECT_FALSE(platform::SetVolumeLabel(TARVELO_BINARY_DIR, "PKBACK# 001"));
  EXPECT_FALSE(platform::SetVolumeLabel("/dev/shm", "PKBACK# 001"));
}

// Linux has no network names: "//x/y" is the path "/x/y", and a share answers through the
// folder it is mounted on.
TEST(RealVolumes, PathStartingWithTwoSlashesIsAnOrdinaryPath) {
  const std::string folder = TARVELO_BINARY_DIR;
  EXPECT_EQ(platform::VolumeRoot("/" + folder + "/dir/a.zip"), platform::VolumeRoot(folder));
  EXPECT_TRUE(platform::QueryVolume("/" + folder));
  EXPECT_TRUE(platform::VolumeReady("/" + folder));
  EXPECT_EQ(platform::VolumeDriveType("/" + folder), platform::VolumeDriveType(folder));
  EXPECT_EQ(platform::VolumeRoot("//nosuchserver/share/dir/a.zip"), platform::VolumeRoot("/"));
}

TEST(SimulatedDrive, AnswersWithItsDiskAndSwapsDisks) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "PKBACK# 001", 0x1234ABCD);
  touch(drive + "/on-disk-1", "first");

  auto v = platform::QueryVolume(drive + "/sub/archive.zip");
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->simulated);
  EXPECT_EQ(v->root, drive);
  EXPECT_EQ(v->label, "PKBACK# 001");
  EXPECT_EQ(v->serial, 0x1234ABCDu);
  EXPECT_EQ(v->driveType, platform::kDriveRemovable);
  EXPECT_EQ(platform::VolumeRoot(drive + "/x.zip"), drive);
  // The disk's own folder lies in the drive as well.
  EXPECT_EQ(platform::VolumeRoot(a.DiskFolder() + "/on-disk-1"), drive);
  int64_t freeBytes = 0, total = 0;
  platform::VolumeSpace(drive, freeBytes, total);
  EXPECT_EQ(total, 100000);
  EXPECT_EQ(freeBytes, 100000 - 5);

  a.InsertDisk(dir.path() + "/disk2", "PKBACK# 002", 0x2222);
  EXPECT_FALSE(platform::FileExists(drive + "/on-disk-1"));
  EXPECT_EQ(platform::QueryVolume(drive)->label, "PKBACK# 002");
  platform::VolumeSpace(drive, freeBytes, total);
  EXPECT_EQ(freeBytes, 100000);

  // A disk put back keeps its label and serial.
  a.ReinsertDisk(dir.path() + "/driveA.disk");
  EXPECT_EQ(readAll(drive + "/on-disk-1"), "first");
  EXPECT_EQ(a.Label(), "PKBACK# 001");
  EXPECT_EQ(a.Serial(), 0x1234ABCDu);

  a.EjectDisk();
  EXPECT_FALSE(platform::VolumeReady(drive + "/x.zip"));
  errno = 0;
  EXPECT_FALSE(platform::QueryVolume(drive));
  EXPECT_EQ(errno, ENOMEDIUM);
  EXPECT_EQ(platform::VolumeDriveType(drive), platform::kDriveRemovable);  // the drive is still there
  EXPECT_LT(platform::OpenFile(drive + "/new.zip", platform::kModeCreate), 0);
  platform::VolumeSpace(drive, freeBytes, total);
  EXPECT_EQ(freeBytes, -1);
  EXPECT_EQ(total, -1);
}

TEST(SimulatedDrive, WritesBeyondCapacityFailAsDiskFull) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 1000, "", 1);
  int fd1 = platform::OpenFile(drive + "/one", platform::kModeCreate);
  ASSERT_GE(fd1, 0);
  EXPECT_EQ(writeBytes(fd1, 600), 600);
  int fd2 = platform::OpenFile(drive + "/two", platform::kModeCreate);
  ASSERT_GE(fd2, 0);
  EXPECT_EQ(writeBytes(fd2, 600), 400);  // the part that fits goes down
  EXPECT_TRUE(platform::LastErrorIsDiskFull());
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(platform::FileSizeOf(fd2), 400);
  EXPECT_EQ(writeBytes(fd2, 1), 0);
  EXPECT_TRUE(platform::LastErrorIsDiskFull());
  // Overwriting bytes a file already has takes no space.
  ASSERT_EQ(platform::SeekFile(fd1, 0, 0), 0);
  EXPECT_EQ(writeBytes(fd1, 600, 'y'), 600);
  platform::CloseFile(fd1);
  platform::CloseFile(fd2);
  EXPECT_EQ(a.UsedBytes(), 1000);
  // Freed space can be used again.
  ASSERT_TRUE(platform::DeleteFile(drive + "/one"));
  int fd3 = platform::OpenFile(drive + "/three", platform::kModeCreate);
  EXPECT_EQ(writeBytes(fd3, 600), 600);
  platform::CloseFile(fd3);
  // Files outside every simulated drive are not limited.
  int out = platform::OpenFile(dir.path() + "/outside", platform::kModeCreate);
  EXPECT_EQ(writeBytes(out, 5000), 5000);
  platform::CloseFile(out);
}

TEST(SimulatedDrive, WriteProtectedDiskRefusesWritesAndKeepsItsFiles) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "DATA", 5);
  touch(drive + "/archive.zip", "old archive");
  int open = platform::OpenFile(drive + "/late", platform::kModeCreate);
  ASSERT_GE(open, 0);
  a.SetWriteProtected(true);
  EXPECT_TRUE(platform::VolumeWriteProtected(drive));
  // Creating would truncate: refused before the file is touched.
  EXPECT_LT(platform::OpenFile(drive + "/archive.zip", platform::kModeCreate), 0);
  EXPECT_EQ(platform::LastError(), EROFS);
  EXPECT_EQ(readAll(drive + "/archive.zip"), "old archive");
  EXPECT_LT(platform::OpenFile(drive + "/archive.zip", 2), 0);
  EXPECT_EQ(writeBytes(open, 10), 0);
  EXPECT_EQ(platform::LastError(), EROFS);
  platform::CloseFile(open);
  // Reading is fine.
  int rd = platform::OpenFile(drive + "/archive.zip", 0);
  EXPECT_GE(rd, 0);
  platform::CloseFile(rd);
  EXPECT_FALSE(platform::SetVolumeLabel(drive, "NEW"));
  a.SetWriteProtected(false);
  EXPECT_FALSE(platform::VolumeWriteProtected(drive));
  EXPECT_EQ(platform::ListDirectory(drive).size(), 2u);  // the test file is gone again
}

TEST(SimulatedDrive, LabelsAreSetOnTheDiskWithinFatLimits) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "", 5);
  EXPECT_TRUE(platform::SetVolumeLabel(drive + "/a.zip", "PKBACK# 001"));
  EXPECT_EQ(platform::QueryVolume(drive)->label, "PKBACK# 001");
  EXPECT_FALSE(platform::SetVolumeLabel(drive, "PKBACK# 1000"));  // 12 characters
  EXPECT_EQ(a.Label(), "PKBACK# 001");
  a.InsertDisk(dir.path() + "/d2", "", 6);
  a.ReinsertDisk(dir.path() + "/driveA.disk");
  EXPECT_EQ(a.Label(), "PKBACK# 001");
  a.EjectDisk();
  EXPECT_FALSE(platform::SetVolumeLabel(drive, "X"));
}

TEST(SimulatedDrive, RefusesAnOccupiedPathAndCleansUp) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/real").c_str(), 0755), 0);
  EXPECT_THROW(platform::SimulatedDrive(dir.path() + "/real", 10, "", 0), std::runtime_error);
  const std::string drive = dir.path() + "/driveA";
  {
    platform::SimulatedDrive a(drive, 1000, "", 0);
    EXPECT_THROW(platform::SimulatedDrive(drive + "/inner", 10, "", 0), std::runtime_error);
    touch(drive + "/kept", "data");
  }
  struct stat st;
  EXPECT_NE(lstat(drive.c_str(), &st), 0);  // the drive is gone
  EXPECT_EQ(readAll(dir.path() + "/driveA.disk/kept"), "data");  // its disk is not
  // Without a drive nothing is limited any more.
  int fd = platform::OpenFile(dir.path() + "/driveA.disk/big", platform::kModeCreate);
  EXPECT_EQ(writeBytes(fd, 5000), 5000);
  platform::CloseFile(fd);
}

}  // namespace
