#include "platform/volumes.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

namespace simulation {
std::atomic<int> driveCount{0};
}

namespace {

// --- paths -------------------------------------------------------------------------------

// Absolute, without ".", "..", empty components or a trailing '/'.
std::string lexicalNormal(const std::string& path) {
  std::string abs = AbsolutePath(path.empty() ? "." : path);
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= abs.size()) {
    size_t j = abs.find('/', i);
    if (j == std::string::npos) j = abs.size();
    std::string part = abs.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

bool isUnder(const std::string& path, const std::string& root) {
  if (root == "/") return !path.empty() && path[0] == '/';
  return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The real path of the nearest existing folder of a normalised absolute path.
std::string nearestExistingFolder(const std::string& normal) {
  std::string p = normal;
  for (;;) {
    struct stat st;
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return realPath(p);
    if (p == "/") return {};
    size_t slash = p.find_last_of('/');
    p = slash == 0 ? "/" : p.substr(0, slash);
  }
}

std::string readSmallFile(const std::string& path) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "re"), std::fclose);
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
  return out;
}


// --- the simulated drives ----------------------------------------------------------------

struct DiskMemo {
  std::string label;
  uint32_t serial = 0;
};

struct DriveState {
  const SimulatedDrive* owner = nullptr;
  std::string path;       // normalised; the symbolic link
  int64_t capacity = 0;
  bool hasDisk = false;
  std::string diskReal;   // real path of the disk folder in the drive
  bool writeProtected = false;
  bool fullOnlyAtClose = false;
  bool modesRefused = false;
};

// The one registry of simulated drives, and the labels and serials of every disk folder seen,
// kept by real path so that a disk put back is the disk that was taken out.
struct Registry {
  std::mutex mutex;
  std::vector<DriveState> drives;
  std::map<std::string, DiskMemo> disks;
};
Registry& registry() {
  static Registry r;
  return r;
}

DriveState* stateOf(Registry& r, const SimulatedDrive* owner) {
  for (auto& d : r.drives) {
    if (d.owner == owner) return &d;
  }
  return nullptr;
}

// The drive that path lies in: under its link, or (once resolved) under its disk's folder.
std::optional<DriveState> simulatedDriveOf(const std::string& path) {
  if (simulation::driveCount.load(std::memory_order_relaxed) == 0) return std::nullopt;
  std::string normal = lexicalNormal(path);
  {
    std::lock_guard lock(registry().mutex);
    for (auto& d : registry().drives) {
      if (isUnder(normal, d.path)) return d;
    }
  }
  std::string real = nearestExistingFolder(normal);
  std::lock_guard lock(registry().mutex);
  for (auto& d : registry().drives) {
    if (d.hasDisk && !real.empty() && isUnder(real, d.diskReal)) return d;
  }
  return std::nullopt;
}

int64_t bytesUnder(const std::string& folder, int depth = 0) {
  if (depth > 64) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return 0;
  int64_t sum = 0;
  while (dirent* e = ::readdir(dir.get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st;
    if (::fstatat(dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      sum += st.st_size;
    } else if (S_ISDIR(st.st_mode)) {
      sum += bytesUnder(folder + "/" + e->d_name, depth + 1);
    }
  }
  return sum;
}

bool makeFolders(const std::string& path) {
  std::string acc;
  for (size_t i = 0; i <= path.size(); ++i) {
    if ((i == path.size() || path[i] == '/') && !acc.empty()) ::mkdir(acc.c_str(), 0777);
    if (i < path.size()) acc += path[i];
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Replaces the link atomically, so a reader sees the old disk or the new one, never none.
void pointLink(const std::string& link, const std::string& target) {
  std::string tmp = link + ".relink";
  ::unlink(tmp.c_str());
  if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    throw std::runtime_error("simulated drive " + link + ": " + std::strerror(e));
  }
}

// --- the mount table ---------------------------------------------------------------------

std::string unescapeMount(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool hasOption(const std::string& list, const std::string& name) {
  size_t i = 0;
  while (i <= list.size()) {
    size_t j = list.find(',', i);
    if (j == std::string::npos) j = list.size();
    if (list.compare(i, j - i, name) == 0 && j - i == name.size()) return true;
    i = j + 1;
  }
  return false;
}

// The mount that holds a real folder: the longest mount point above it, the later of equals
// (a later mount on the same point hides the earlier).
std::optional<MountEntry> mountOf(const std::string& realFolder) {
  std::optional<MountEntry> best;
  for (auto& m : ParseMountInfo(readSmallFile("/proc/self/mountinfo"))) {
    if (!isUnder(realFolder, m.mountPoint)) continue;
    if (!best || m.mountPoint.size() >= best->mountPoint.size()) best = m;
  }
  return best;
}

bool deviceIsRemovable(uint32_t major, uint32_t minor) {
  if (major == 0) return false;  // no block device behind the mount
  std::string base = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  std::string flag = readSmallFile(base + "/removable");
  if (flag.empty()) flag = readSmallFile(realPath(base) + "/../removable");  // a partition
  return !flag.empty() && flag[0] == '1';
}

// udev writes unsafe bytes of a label as "\xNN".
std::string unescapeUdev(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The name of the link in /dev/disk/<kind> that points at the device, or empty.
std::string diskLinkName(const char* kind, uint32_t major, uint32_t minor) {
  std::string folder = std::string("/dev/disk/") + kind;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return {};
  while (dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;
    struct stat st;
    if (::fstatat(dirfd(dir.get()), e->d_name, &st, 0) != 0 || !S_ISBLK(st.st_mode)) continue;
    if (::major(st.st_rdev) == major && ::minor(st.st_rdev) == minor) return e->d_name;
  }
  return {};
}

bool isFatFamily(const std::string& fsType) { return fsType == "vfat" || fsType == "msdos" || fsType == "exfat"; }

// A FAT volume id as udev names it: "1234-ABCD", the high word first.
std::optional<uint32_t> fatVolumeId(const std::string& uuid) {
  if (uuid.size() != 9 || uuid[4] != '-') return std::nullopt;
  uint32_t v = 0;
  for (size_t i = 0; i < 9; ++i) {
    if (i == 4) continue;
    int c = std::toupper(static_cast<unsigned char>(uuid[i]));
    if (c >= '0' && c <= '9') {
      v = v * 16 + static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      v = v * 16 + static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
  }
  return v;
}

std::optional<FatBootInfo> readBootSector(const std::string& device) {
  int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  uint8_t sector[512];
  bool ok = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ::pread(fd, sector, sizeof sector, 0) == 512;
  ::close(fd);
  return ok ? ParseFatBootSector(sector, sizeof sector) : std::nullopt;
}

void fillLabelAndSerial(const MountEntry& m, VolumeInfo& v) {
  bool haveSerial = false;
  bool fromDevice = m.source.rfind("/dev/", 0) == 0;
  v.label = unescapeUdev(diskLinkName("by-label", m.major, m.minor));
  if (isFatFamily(m.fsType)) {
    if (auto id = fatVolumeId(diskLinkName("by-uuid", m.major, m.minor))) {
      v.serial = *id;
      haveSerial = true;
    }
    if ((v.label.empty() || !haveSerial) && fromDevice) {
      if (auto boot = readBootSector(m.source)) {
        if (v.label.empty()) v.label = boot->label;
        if (!haveSerial) v.serial = boot->serial;
        haveSerial = true;
      }
    }
  }
  if (v.label.empty() && fromDevice) {
    int fd = ::open(m.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      char buf[FSLABEL_MAX] = {};
      if (::ioctl(fd, FS_IOC_GETFSLABEL, buf) == 0) v.label.assign(buf, strnlen(buf, sizeof buf));
      ::close(fd);
    }
  }
  if (!haveSerial) {
    // No volume id: a number that stays the same for the file system while it is mounted
    // (ext4 and btrfs derive f_fsid from their UUID, so there it survives a remount).
    struct statvfs sv;
    uint64_t id = ::statvfs(m.mountPoint.c_str(), &sv) == 0 ? static_cast<uint64_t>(sv.f_fsid) : 0;
    if (id == 0) id = (static_cast<uint64_t>(m.major) << 20) ^ m.minor ^ 0x5A5A0000u;
    v.serial = static_cast<uint32_t>(id ^ (id >> 32));
  }
}

// What a path resolves to: a simulated drive, a mount, or nothing.
struct Resolved {
  std::optional<DriveState> simulated;
  std::optional<MountEntry> mount;
  std::string root;
};

Resolved resolve(const std::string& path) {
  Resolved r;
  if ((r.simulated = simulatedDriveOf(path))) {
    r.root = r.simulated->path;
    return r;
  }
  std::string real = nearestExistingFolder(lexicalNormal(path));
  if (!real.empty()) r.mount = mountOf(real);
  if (r.mount) r.root = r.mount->mountPoint;
  return r;
}

int64_t simulatedFree(const DriveState& d) {
  int64_t free = d.capacity - bytesUnder(d.diskReal);
  return free < 0 ? 0 : free;
}

}  // namespace

// --- mount table and boot sector -----------------------------------------------------------

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  std::vector<MountEntry> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> f;
    size_t i = pos;
    while (i < end) {
      size_t j = text.find(' ', i);
      if (j == std::string::npos || j > end) j = end;
      if (j > i) f.push_back(text.substr(i, j - i));
      i = j + 1;
    }
    pos = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 6 || dash + 3 > f.size()) continue;
    MountEntry m;
    unsigned maj = 0, min = 0;
    if (std::sscanf(f[2].c_str(), "%u:%u", &maj, &min) != 2) continue;
    m.major = maj;
    m.minor = min;
    m.root = unescapeMount(f[3]);
    m.mountPoint = unescapeMount(f[4]);
    if (m.mountPoint.empty() || m.mountPoint[0] != '/') continue;
    m.options = f[5];
    m.fsType = unescapeMount(f[dash + 1]);
    m.source = unescapeMount(f[dash + 2]);
    std::string super = dash + 3 < f.size() ? f[dash + 3] : std::string();
    m.readOnly = hasOption(m.options, "ro") || hasOption(super, "ro");
    out.push_back(std::move(m));
  }
  return out;
}

uint8_t DriveTypeOfMount(const std::string& fsType, const std::string& source, bool removableDevice) {
  static const char* const network[] = {"nfs",       "nfs4",   "cifs",      "smb3",       "smbfs",
                                        "ncpfs",     "9p",     "afs",       "ceph",       "glusterfs",
                                        "fuse.glusterfs", "sshfs", "fuse.sshfs", "fuse.rclone", "davfs",
                                        "fuse.davfs2", "fuse.smbnetfs", "lustre", "gfs2", "ocfs2"};
  for (const char* n : network) {
    if (fsType == n) return kDriveRemote;
  }
  if (fsType == "tmpfs" || fsType == "ramfs") return kDriveRamDisk;
  if (fsType == "iso9660" || fsType == "udf") return kDriveCdRom;
  std::string dev = source.substr(source.find_last_of('/') + 1);
  auto digitAfter = [&](size_t n) { return dev.size() > n && std::isdigit(static_cast<unsigned char>(dev[n])); };
  if (source.rfind("/dev/", 0) == 0 &&
      ((dev.rfind("sr", 0) == 0 && digitAfter(2)) || (dev.rfind("scd", 0) == 0 && digitAfter(3)))) {
    return kDriveCdRom;
  }
  if (removableDevice) return kDriveRemovable;
  return kDriveFixed;
}

std::optional<FatBootInfo> ParseFatBootSector(const uint8_t* data, size_t size) {
  if (!data || size < 512 || data[510] != 0x55 || data[511] != 0xAA) return std::nullopt;
  auto le16 = [&](size_t at) { return static_cast<uint32_t>(data[at] | (data[at + 1] << 8)); };
  auto le32 = [&](size_t at) { return le16(at) | (le16(at + 2) << 16); };
  uint32_t bytesPerSector = le16(11);
  uint32_t sectorsPerCluster = data[13];
  if ((bytesPerSector != 512 && bytesPerSector != 1024 && bytesPerSector != 2048 && bytesPerSector != 4096) ||
      sectorsPerCluster == 0 || (sectorsPerCluster & (sectorsPerCluster - 1)) != 0 || data[16] == 0 ||
      le16(14) == 0) {
    return std::nullopt;  // reserved sectors and FAT count are never 0 on FAT
  }
  // FAT32 keeps its 16-bit FAT size 0 and its extended fields 28 bytes further on.
  size_t ext = le16(22) == 0 ? 64 : 36;
  uint8_t signature = data[ext + 2];
  if (signature != 0x29 && signature != 0x28) return std::nullopt;
  FatBootInfo info;
  info.serial = le32(ext + 3);
  if (signature == 0x29) {  // 0x28 carries the volume id but no label
    std::string label(reinterpret_cast<const char*>(data + ext + 7), 11);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
    if (label == "NO NAME") label.clear();
    info.label = IsAscii(label) ? label : Cp866ToUtf8(label);
  }
  return info;
}

// --- volume queries ------------------------------------------------------------------------

std::string VolumeRoot(const std::string& path) { return resolve(path).root; }

std::optional<VolumeInfo> QueryVolume(const std::string& path) {
  Resolved r = resolve(path);
  VolumeInfo v;
  if (r.simulated) {
    const DriveState& d = *r.simulated;
    if (!d.hasDisk) {
      errno = ENOMEDIUM;
      return std::nullopt;
    }
    DiskMemo memo;
    {
      std::lock_guard lock(registry().mutex);
      auto it = registry().disks.find(d.diskReal);
      if (it != registry().disks.end()) memo = it->second;
    }
    v.root = d.path;
    v.device = d.diskReal;
    v.fsType = "FAT";
    v.label = memo.label;
    v.serial = memo.serial;
    v.maxNameLength = 255;
    v.fsFlags = kFsCasePreserved | kFsUnicodeOnDisk | (d.writeProtected ? kFsReadOnlyVolume : 0u);
    v.driveType = kDriveRemovable;
    v.readOnly = d.writeProtected;
    v.simulated = true;
    return v;
  }
  if (!r.mount) {
    errno = ENOENT;
    return std::nullopt;
  }
  const MountEntry& m = *r.mount;
  struct statvfs sv;
  if (::statvfs(m.mountPoint.c_str(), &sv) != 0) return std::nullopt;
  v.root = m.mountPoint;
  v.device = m.source;
  v.fsType = m.fsType;
  v.maxNameLength = static_cast<uint32_t>(sv.f_namemax);
  v.readOnly = m.readOnly || (sv.f_flag & ST_RDONLY) != 0;
  v.driveType = DriveTypeOfMount(m.fsType, m.source, deviceIsRemovable(m.major, m.minor));
  v.fsFlags = isFatFamily(m.fsType) || m.fsType == "iso9660" ? kFsCasePreserved | kFsUnicodeOnDisk
                                                             : kFsCaseSensitive | kFsCasePreserved | kFsUnicodeOnDisk;
  if (v.readOnly) v.fsFlags |= kFsReadOnlyVolume;
  fillLabelAndSerial(m, v);
  return v;
}

bool VolumeReady(const std::string& path) {
  Resolved r = resolve(path);
  if (r.simulated) return r.simulated->hasDisk;
  struct statvfs sv;
  return r.mount && ::statvfs(r.mount->mountPoint.c_str(), &sv) == 0;
}

bool VolumeWriteProtected(const std::string& path) {
  Resolved r = resolve(path);
  std::string root;
  if (r.simulated) {
    if (!r.simulated->hasDisk) return false;  // not ready is another answer
    if (r.simulated->writeProtected) return true;
    root = r.simulated->path;
  } else if (r.mount) {
    struct statvfs sv;
    if (r.mount->readOnly || (::statvfs(r.mount->mountPoint.c_str(), &sv) == 0 && (sv.f_flag & ST_RDONLY))) return true;
    root = r.mount->mountPoint;
  } else {
    return false;
  }
  std::string templ = root + (root.back() == '/' ? "" : "/") + "qrnXXXXXX";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return errno == EROFS;
  ::close(fd);
  return ::unlink(name.data()) != 0;
}

void VolumeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) {
  freeBytes = totalBytes = -1;
  Resolved r = resolve(path);
  if (r.simulated) {
    if (!r.simulated->hasDisk) return;
    totalBytes = r.simulated->capacity;
    freeBytes = simulatedFree(*r.simulated);
    return;
  }
  struct statvfs sv;
  if (!r.mount || ::statvfs(r.mount->mountPoint.c_str(), &sv) != 0) return;
  freeBytes = static_cast<int64_t>(sv.f_bavail) * static_cast<int64_t>(sv.f_frsize);
  totalBytes = static_cast<int64_t>(sv.f_blocks) * static_cast<int64_t>(sv.f_frsize);
}

uint8_t VolumeDriveType(const std::string& path) {
  Resolved r = resolve(path);
  if (r.simulated) return kDriveRemovable;
  if (!r.mount) return kDriveNoRootDir;
  return DriveTypeOfMount(r.mount->fsType, r.mount->source, deviceIsRemovable(r.mount->major, r.mount->minor));
}

bool SetVolumeLabel(const std::string& path, const std::string& label) {
  Resolved r = resolve(path);
  if (r.simulated) {
    std::lock_guard lock(registry().mutex);
    DriveState* d = stateOf(registry(), r.simulated->owner);
    if (!d || !d->hasDisk) {
      errno = ENOMEDIUM;
      return false;
    }
    if (d->writeProtected) {
      errno = EROFS;
      return false;
    }
    if (label.size() > SimulatedDrive::kMaxLabel) {
      errno = EINVAL;
      return false;
    }
    registry().disks[d->diskReal].label = label;
    return true;
  }
  // Only a removable disk is ever relabelled: a fixed or shared volume is not the engine's.
  if (!r.mount || DriveTypeOfMount(r.mount->fsType, r.mount->source,
                                   deviceIsRemovable(r.mount->major, r.mount->minor)) != kDriveRemovable) {
    errno = EPERM;
    return false;
  }
  if (label.size() >= FSLABEL_MAX) {
    errno = EINVAL;
    return false;
  }
  int fd = ::open(r.mount->mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[FSLABEL_MAX] = {};
  std::memcpy(buf, label.data(), label.size());
  bool ok = ::ioctl(fd, FS_IOC_SETFSLABEL, buf) == 0;
  int e = errno;
  ::close(fd);
  errno = e;
  return ok;
}

// --- simulated drives ----------------------------------------------------------------------

SimulatedDrive::SimulatedDrive(const std::string& path, int64_t capacity, const std::string& label, uint32_t serial,
                               const std::string& diskFolder)
    : path_(lexicalNormal(path)), capacity_(capacity) {
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    throw std::runtime_error("simulated drive " + path_ + ": the path exists and is no link");
  }
  {
    std::lock_guard lock(registry().mutex);
    for (auto& d : registry().drives) {
      if (isUnder(path_, d.path) || isUnder(d.path, path_)) {
        throw std::runtime_error("simulated drive " + path_ + ": overlaps " + d.path);
      }
    }
    DriveState d;
    d.owner = this;
    d.path = path_;
    d.capacity = capacity;
    registry().drives.push_back(d);
    simulation::driveCount.fetch_add(1);
  }
  try {
    InsertDisk(diskFolder.empty() ? path_ + ".disk" : diskFolder, label, serial);
  } catch (...) {
    std::lock_guard lock(registry().mutex);
    auto& v = registry().drives;
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (it->owner == this) {
        v.erase(it);
        break;
      }
    }
    simulation::driveCount.fetch_sub(1);
    throw;
  }
}

SimulatedDrive::~SimulatedDrive() {
  std::lock_guard lock(registry().mutex);
  auto& v = registry().drives;
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (it->owner == this) {
      v.erase(it);
      break;
    }
  }
  simulation::driveCount.fetch_sub(1);
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path_.c_str());
}

void SimulatedDrive::InsertDisk(const std::string& folder, const std::string& label, uint32_t serial,
                                bool writeProtected) {
  std::string normal = lexicalNormal(folder);
  if (!makeFolders(normal)) throw std::runtime_error("simulated disk " + normal + ": cannot be made");
  {
    std::lock_guard lock(registry().mutex);
    registry().disks[realPath(normal)] = DiskMemo{label, serial};
  }
  ReinsertDisk(normal, writeProtected);
}

void SimulatedDrive::ReinsertDisk(const std::string& folder, bool writeProtected) {
  std::string normal = lexicalNormal(folder);
  if (!makeFolders(normal)) throw std::runtime_error("simulated disk " + normal + ": cannot be made");
  std::string real = realPath(normal);
  if (isUnder(real, path_)) throw std::runtime_error("simulated disk " + real + ": lies inside its drive");
  pointLink(path_, real);
  std::lock_guard lock(registry().mutex);
  DriveState* d = stateOf(registry(), this);
  d->hasDisk = true;
  d->diskReal = real;
  d->writeProtected = writeProtected;
  registry().disks.try_emplace(real);
}

void SimulatedDrive::EjectDisk() {
  // A dangling link: the drive's path is there, nothing can be opened or made under it.
  pointLink(path_, path_ + ".no-disk");
  std::lock_guard lock(registry().mutex);
  DriveState* d = stateOf(registry(), this);
  d->hasDisk = false;
  d->diskReal.clear();
  d->writeProtected = false;
}

void SimulatedDrive::SetWriteProtected(bool on) {
  std::lock_guard lock(registry().mutex);
  stateOf(registry(), this)->writeProtected = on;
}

void SimulatedDrive::SetFullOnlyAtClose(bool on) {
  std::lock_guard lock(registry().mutex);
  stateOf(registry(), this)->fullOnlyAtClose = on;
}

void SimulatedDrive::SetModesRefused(bool on) {
  std::lock_guard lock(registry().mutex);
  stateOf(registry(), this)->modesRefused = on;
}

bool SimulatedDrive::HasDisk() const {
  std::lock_guard lock(registry().mutex);
  return stateOf(registry(), this)->hasDisk;
}

std::string SimulatedDrive::DiskFolder() const {
  std::lock_guard lock(registry().mutex);
  return stateOf(registry(), this)->diskReal;
}

std::string SimulatedDrive::Label() const {
  std::lock_guard lock(registry().mutex);
  DriveState* d = stateOf(registry(), this);
  if (!d->hasDisk) return {};
  return registry().disks[d->diskReal].label;
}

uint32_t SimulatedDrive::Serial() const {
  std::lock_guard lock(registry().mutex);
  DriveState* d = stateOf(registry(), this);
  if (!d->hasDisk) return 0;
  return registry().disks[d->diskReal].serial;
}

int64_t SimulatedDrive::UsedBytes() const {
  std::string disk = DiskFolder();
  return disk.empty() ? 0 : bytesUnder(disk);
}

// --- the hooks of OpenFile and WriteFile ---------------------------------------------------

namespace simulation {

int OpenRefusal(const std::string& path) {
  auto d = simulatedDriveOf(path);
  if (!d) return 0;
  if (!d->hasDisk) return ENOMEDIUM;
  return d->writeProtected ? EROFS : 0;
}

int RenameRefusal(const std::string& from, const std::string& to) {
  const auto a = simulatedDriveOf(from);
  const auto b = simulatedDriveOf(to);
  if (!a && !b) return 0;
  return a && b && a->owner == b->owner ? 0 : EXDEV;
}

namespace {

// The drive whose disk holds the file open as fd.
std::optional<DriveState> driveOfDescriptor(int fd) {
  char buf[PATH_MAX];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::nullopt;
  std::string file(buf, static_cast<size_t>(n));
  std::lock_guard lock(registry().mutex);
  for (const auto& d : registry().drives) {
    if (d.hasDisk && isUnder(file, d.diskReal)) return d;
  }
  return std::nullopt;
}

}  // namespace

int32_t WriteAllowance(int fd, int64_t offset, int32_t count, int& error) {
  const auto found = driveOfDescriptor(fd);
  if (!found) return count;
  const DriveState& drive = *found;
  if (drive.writeProtected) {
    error = EROFS;
    return 0;
  }
  if (drive.fullOnlyAtClose) return count;
  struct stat st;
  const off_t pos = offset >= 0 ? static_cast<off_t>(offset) : ::lseek(fd, 0, SEEK_CUR);
  if (::fstat(fd, &st) != 0 || pos < 0) return count;
  int64_t growth = static_cast<int64_t>(pos) + count - static_cast<int64_t>(st.st_size);
  int64_t room = drive.capacity - bytesUnder(drive.diskReal);
  if (room < 0) room = 0;
  if (growth <= room) return count;
  int64_t allowed = static_cast<int64_t>(count) - (growth - room);
  error = ENOSPC;
  return allowed < 0 ? 0 : static_cast<int32_t>(allowed);
}

int CloseRefusal(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return 0;
  const auto drive = driveOfDescriptor(fd);
  if (!drive || !drive->fullOnlyAtClose) return 0;
  return bytesUnder(drive->diskReal) > drive->capacity ? ENOSPC : 0;
}

int ModeRefusal(const std::string& path) {
  const auto drive = simulatedDriveOf(path);
  return drive && drive->modesRefused ? EPERM : 0;
}

}  // namespace simulation

}  // namespace platform
