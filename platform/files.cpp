#include "platform/files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/volumes.h"

namespace platform {
namespace {

thread_local int lastError = 0;

template <typename T>
T fail(T value) {
  lastError = errno;
  return value;
}

uint32_t attributesOf(const std::string& name, const struct stat& st) {
  uint32_t attr = 0;
  if (S_ISDIR(st.st_mode)) {
    attr |= kAttrDirectory;
  } else {
    attr |= kAttrArchive;
  }
  if ((st.st_mode & S_IWUSR) == 0) attr |= kAttrReadOnly;
  if (!name.empty() && name[0] == '.') attr |= kAttrHidden;
  return attr;
}

std::string baseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// The temporary files this process made and still holds under their temporary names, each with
// a descriptor of its own that keeps the exclusive flock on the file: the lock lives as long as
// the name, whatever the maker does with its other descriptors, and ends with the process.
struct TempClaims {
  std::mutex mutex;
  std::unordered_map<std::string, int> held;
};
constexpr size_t kClaimsBeforePruning = 64;
TempClaims& tempClaims() {
  static auto* claims = new TempClaims;  // never destroyed: files may be removed during exit
  return *claims;
}

// Locks the new file `fd` and keeps a descriptor on it for `name`; false when it cannot.
bool claimTempFile(const std::string& name, int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  const int keep = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (keep < 0) return false;
  TempClaims& claims = tempClaims();
  std::lock_guard lock(claims.mutex);
  // Files that someone else removed are not released by name: drop them now and then, so that a
  // program that runs for months does not gather descriptors.
  if (claims.held.size() >= kClaimsBeforePruning) {
    for (auto it = claims.held.begin(); it != claims.held.end();) {
      struct stat st {};
      if (::fstat(it->second, &st) == 0 && st.st_nlink == 0) {
        ::close(it->second);
        it = claims.held.erase(it);
      } else {
        ++it;
      }
    }
  }
  auto [it, added] = claims.held.emplace(name, keep);
  if (!added) {
    ::close(it->second);
    it->second = keep;
  }
  return true;
}

// The file under `name` is gone or has another name: its claim ends.
void releaseTempFile(const std::string& name) {
  TempClaims& claims = tempClaims();
  std::lock_guard lock(claims.mutex);
  if (claims.held.empty()) return;
  auto it = claims.held.find(name);
  if (it == claims.held.end()) return;
  ::close(it->second);
  claims.held.erase(it);
}

constexpr char kTempLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kTempRandomLength = 6;

bool isTempName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + kTempRandomLength || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

bool earlier(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

int OpenFile(const std::string& path, uint16_t mode) {
  int64_t size = 0;
  return OpenFile(path, mode, size);
}

int OpenFile(const std::string& path, uint16_t mode, int64_t& size) { return OpenFileIn(AT_FDCWD, path, mode, size); }

int OpenFolder(const std::string& path) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd < 0 ? fail(-1) : fd;
}

int TFolderHandle::For(const std::string& path) {
  if (fd_ >= 0 && path == path_) return fd_;
  Close();
  fd_ = OpenFolder(path);
  if (fd_ >= 0) path_ = path;
  return fd_;
}

void TFolderHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

int OpenFileIn(int folder, const std::string& path, uint16_t mode, int64_t& size) {
  int flags = O_CLOEXEC;
  if (mode == kModeCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 3) {
      case 0: flags |= O_RDONLY; break;
      case 1: flags |= O_WRONLY; break;
      default: flags |= O_RDWR; break;
    }
    // Never block on a FIFO or a device: open without waiting, then refuse what is no file.
    flags |= O_NONBLOCK;
  }
  // A simulated write-protected disk refuses before O_TRUNC could touch its file.
  if ((flags & O_ACCMODE) != O_RDONLY && simulation::driveCount.load(std::memory_order_relaxed) != 0) {
    if (int refusal = simulation::OpenRefusal(path)) {
      errno = refusal;
      return fail(-1);
    }
  }
  int fd = ::openat(folder, path.c_str(), flags, 0666);
  if (fd < 0) return fail(-1);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return fail(-1);
  }
  // O_NONBLOCK is the only status flag set above. A file that gives its size as 0 and is only
  // read keeps it: such a file may be a pseudo-file that waits for data (the kernel's message
  // log), whose read must fail rather than hold the run; on a real file the flag does nothing.
  if ((flags & O_NONBLOCK) && !(st.st_size == 0 && (flags & O_ACCMODE) == O_RDONLY)) fcntl(fd, F_SETFL, 0);
  size = static_cast<int64_t>(st.st_size);
  return fd;
}

namespace {

// The loops of the transfers: a short count only at the end of the file or on an error. A write
// that puts nothing down without an error (endOfSpace set) counts as a full disk.
template <typename Transfer>
int32_t TransferAll(int32_t count, bool endOfSpace, Transfer transfer) {
  int32_t done = 0;
  while (done < count) {
    ssize_t n = transfer(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      return done;
    }
    if (n == 0) {
      if (endOfSpace) lastError = ENOSPC;
      return done;
    }
    done += static_cast<int32_t>(n);
  }
  return done;
}

// The part of count that a simulated disk takes at offset (-1: the descriptor's position).
int32_t SimulatedLimit(int fd, int64_t offset, int32_t count, int& refusal) {
  if (simulation::driveCount.load(std::memory_order_relaxed) == 0) return count;
  return simulation::WriteAllowance(fd, offset, count, refusal);
}

// A write cut short by a simulated disk fails as a full disk would.
int32_t FinishWrite(int32_t done, int32_t limit, int32_t count, int refusal) {
  if (done == limit && limit < count) {
    errno = refusal;
    lastError = refusal;
  }
  return done;
}

}  // namespace

int32_t ReadFile(int fd, void* buffer, int32_t count) {
  if (fd < 0 || count <= 0) return 0;
  auto* p = static_cast<char*>(buffer);
  return TransferAll(count, false, [&](int32_t done) { return ::read(fd, p + done, static_cast<size_t>(count - done)); });
}

int32_t ReadFileAt(int fd, void* buffer, int32_t count, int64_t offset) {
  if (fd < 0 || count <= 0 || offset < 0) return 0;
  auto* p = static_cast<char*>(buffer);
  return TransferAll(count, false, [&](int32_t done) {
    return ::pread(fd, p + done, static_cast<size_t>(count - done), static_cast<off_t>(offset + done));
  });
}

int32_t WriteFile(int fd, const void* buffer, int32_t count) {
  if (fd < 0 || count <= 0) return 0;
  auto* p = static_cast<const char*>(buffer);
  // A simulated disk takes no more than its capacity: the rest fails as a full disk would.
  int refusal = 0;
  const int32_t limit = SimulatedLimit(fd, -1, count, refusal);
  const int32_t done =
      TransferAll(limit, true, [&](int32_t d) { return ::write(fd, p + d, static_cast<size_t>(limit - d)); });
  return FinishWrite(done, limit, count, refusal);
}

int32_t WriteFileAt(int fd, const void* buffer, int32_t count, int64_t offset) {
  if (fd < 0 || count <= 0 || offset < 0) return 0;
  auto* p = static_cast<const char*>(buffer);
  int refusal = 0;
  const int32_t limit = SimulatedLimit(fd, offset, count, refusal);
  const int32_t done = TransferAll(limit, true, [&](int32_t d) {
    return ::pwrite(fd, p + d, static_cast<size_t>(limit - d), static_cast<off_t>(offset + d));
  });
  return FinishWrite(done, limit, count, refusal);
}

int64_t SeekFile(int fd, int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (r < 0) return fail<int64_t>(-1);
  return r;
}

bool TruncateFile(int fd, int64_t size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return fail(false);
  return true;
}

bool FlushFile(int fd) {
  if (::fsync(fd) != 0) return fail(false);
  return true;
}

bool CloseFile(int fd) {
  if (fd < 0) return false;
  // A simulated share that takes more than it holds says so here, as a real one does.
  const int refusal = simulation::driveCount.load(std::memory_order_relaxed) != 0 ? simulation::CloseRefusal(fd) : 0;
  if (::close(fd) != 0) return fail(false);
  if (refusal != 0) {
    errno = refusal;
    return fail(false);
  }
  return true;
}

int64_t FileSizeOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return fail<int64_t>(-1);
  return st.st_size;
}

int LastError() { return lastError; }
void SetLastError(int Error) { lastError = Error; }
bool LastErrorIsDiskFull() { return lastError == ENOSPC || lastError == EFBIG || lastError == EDQUOT; }

uint32_t GetFileAttributes(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return fail(kInvalidAttributes);
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kInvalidAttributes;
  return attributesOf(baseName(path), st);
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return fail(false);
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR);
  } else {
    mode |= S_IWUSR;
  }
  if (::chmod(path.c_str(), mode) != 0) return fail(false);
  return true;
}

namespace {
bool modesRefusedAt(const std::string& path) {
  if (simulation::driveCount.load(std::memory_order_relaxed) == 0) return false;
  errno = simulation::ModeRefusal(path);
  return errno != 0;
}
}  // namespace

bool SetFilePermissions(const std::string& path, uint32_t permissions) {
  if (modesRefusedAt(path)) return fail(false);
  return ::chmod(path.c_str(), static_cast<mode_t>(permissions & 0777)) == 0 || fail(false);
}

bool SetFilePermissions(int fd, const std::string& path, uint32_t permissions) {
  if (modesRefusedAt(path)) return fail(false);
  return ::fchmod(fd, static_cast<mode_t>(permissions & 0777)) == 0 || fail(false);
}

std::optional<FindData> StatPath(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    lastError = errno;
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return std::nullopt;
  return FindData{baseName(path), attributesOf(baseName(path), st), static_cast<int64_t>(st.st_size),
                  static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec),
                  static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), false,
                  static_cast<uint32_t>(st.st_mode)};
}

bool IsSymlinkToDirectory(const std::string& path) {
  struct stat lst, st;
  if (::lstat(path.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode)) return false;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// failures null: what cannot be read is passed over, and links to folders are left out.
std::vector<FindData> listFolder(const std::string& folder, std::vector<ListFailure>* failures) {
  std::vector<FindData> out;
  auto failed = [&](const std::string& name, int error) {
    if (failures) failures->push_back({name, error});
  };
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) {
    lastError = errno;
    failed("", errno);
    return out;
  }
  int dfd = dirfd(dir.get());
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(dir.get());
    if (!e) {
      if (errno != 0) failed("", errno);
      break;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat lst;
    if (::fstatat(dfd, e->d_name, &lst, AT_SYMLINK_NOFOLLOW) != 0) {
      failed(name, errno);
      continue;
    }
    struct stat st = lst;
    const bool link = S_ISLNK(lst.st_mode);
    if (link) {
      if (::fstatat(dfd, e->d_name, &st, 0) != 0) {
        // A target that does not exist holds nothing; one that cannot be reached may hold data.
        const int error = errno;
        const bool none = error == ENOENT || error == ENOTDIR || error == ELOOP;
        if (failures) failures->push_back({name, error, none ? NoData::NoTarget : NoData::None, true});
        continue;
      }
      if (S_ISDIR(st.st_mode) && !failures) continue;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {  // never opened
      const NoData kind = S_ISFIFO(st.st_mode)  ? NoData::Fifo
                          : S_ISSOCK(st.st_mode) ? NoData::Socket
                          : S_ISCHR(st.st_mode)  ? NoData::CharDevice
                                                 : NoData::BlockDevice;
      if (failures) failures->push_back({name, 0, kind, link});
      continue;
    }
    out.push_back(FindData{name, attributesOf(name, st), static_cast<int64_t>(st.st_size),
                           static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec),
                           static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), link,
                           static_cast<uint32_t>(st.st_mode)});
  }
  return out;
}

}  // namespace

std::vector<FindData> ListDirectory(const std::string& folder) { return listFolder(folder, nullptr); }

std::vector<FindData> ReadFolder(const std::string& folder, std::vector<ListFailure>& failures) {
  return listFolder(folder, &failures);
}

uint32_t UnixTimeToLocalDosTime(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (!localtime_r(&t, &tm)) return 0;
  int year = tm.tm_year + 1900;
  if (year < 1980) return (0u << 25) | (1u << 21) | (1u << 16);  // DOS dates start in 1980
  if (year > 2107) year = 2107;
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}

int64_t LocalDosTimeToUnixTime(uint32_t dos) {
  struct tm tm {};
  tm.tm_year = static_cast<int>((dos >> 25) + 1980 - 1900);
  tm.tm_mon = static_cast<int>(((dos >> 21) & 15)) - 1;
  tm.tm_mday = static_cast<int>((dos >> 16) & 31);
  tm.tm_hour = static_cast<int>((dos >> 11) & 31);
  tm.tm_min = static_cast<int>((dos >> 5) & 63);
  tm.tm_sec = static_cast<int>((dos & 31) * 2);
  tm.tm_isdst = -1;
  // Without TZ, every mktime looks at /etc/localtime again: a system call for each extracted
  // file. Where the zone's offset from UTC is the same a day before and a day after, the time is
  // the fields read as UTC less that offset, as mktime would find; near a change mktime decides.
  struct tm utc = tm;
  const time_t asUtc = timegm(&utc);
  if (asUtc != static_cast<time_t>(-1)) {
    struct tm before {}, after {};
    const time_t dayBefore = asUtc - 86400, dayAfter = asUtc + 86400;
    if (localtime_r(&dayBefore, &before) && localtime_r(&dayAfter, &after) && before.tm_gmtoff == after.tm_gmtoff)
      return static_cast<int64_t>(asUtc) - before.tm_gmtoff;
  }
  return static_cast<int64_t>(mktime(&tm));
}

bool SetFileModifiedTime(const std::string& path, int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return fail(false);
  return true;
}

bool SetFileModifiedTime(int fd, int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  if (::futimens(fd, times) != 0) return fail(false);
  return true;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  lastError = errno;
  return DirectoryExists(path);
}

bool RemoveDirectory(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) return fail(false);
  return true;
}

bool DeleteFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return fail(false);
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return fail(false);
  }
  if (::unlink(path.c_str()) != 0) return fail(false);
  releaseTempFile(path);
  return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (simulation::driveCount.load(std::memory_order_relaxed) != 0) {
    if (int refusal = simulation::RenameRefusal(from, to)) {
      errno = refusal;
      return fail(false);
    }
  }
  if (::rename(from.c_str(), to.c_str()) != 0) return fail(false);
  releaseTempFile(from);
  return true;
}

std::string MakeTempFile(const std::string& folder, const std::string& prefix) {
  std::string name;
  const int fd = CreateTempFile(folder, prefix, false, name);
  if (fd < 0) return std::string();
  ::close(fd);
  return name;
}

int CreateTempFile(const std::string& folder, const std::string& prefix, bool published, std::string& name) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string dir = folder.empty() ? SystemTempPath() : folder;
  if (dir.back() != '/') dir += '/';
  // A file that cannot be claimed (a file system without flock) gets one letter more: a name that
  // RemoveTempLeftovers never takes.
  size_t letters = kTempRandomLength;
  // O_EXCL makes the name ours; a name that is taken only asks for another.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = dir + prefix;
    for (size_t i = 0; i < letters; ++i) candidate += kTempLetters[random() % (sizeof kTempLetters - 1)];
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, published ? 0666 : 0600);
    if (fd >= 0) {
      if (letters == kTempRandomLength + 1 || claimTempFile(candidate, fd)) {
        name = std::move(candidate);
        return fd;
      }
      ::unlink(candidate.c_str());
      ::close(fd);
      letters = kTempRandomLength + 1;
      continue;
    }
    if (errno != EEXIST) return fail(-1);
  }
  errno = EEXIST;
  return fail(-1);
}

int CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd < 0 ? fail(-1) : fd;
}

int RemoveTempLeftovers(const std::string& folder, const std::string& prefix) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::string dir = folder.empty() ? SystemTempPath() : folder;
  if (dir.back() != '/') dir += '/';
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return 0;
  const uid_t self = ::geteuid();
  int removed = 0;
  while (const dirent* e = ::readdir(d.get())) {
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
    const std::string name = e->d_name;
    if (!isTempName(name, prefix)) continue;
    const std::string path = dir + name;
    struct stat st {};
    // An empty file may be one whose maker has not locked it yet: it made it an instant ago.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != self || st.st_size == 0 ||
        !earlier(st.st_ctim, now))
      continue;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    // The lock is free only when no live process holds the file as its temporary file.
    struct stat held {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_dev == st.st_dev &&
        held.st_ino == st.st_ino && ::unlink(path.c_str()) == 0)
      ++removed;
    ::close(fd);
  }
  return removed;
}

uint32_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~static_cast<uint32_t>(mask);
}

bool SetPublishedMode(const std::string& path, const std::string& replacing) {
  struct stat st;
  mode_t mode;
  if (::stat(replacing.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    mode = static_cast<mode_t>(NewFileMode());
  }
  if (modesRefusedAt(path)) return fail(false);
  if (::chmod(path.c_str(), mode) != 0) return fail(false);
  return true;
}

std::string SystemTempPath() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t && DirectoryExists(t)) ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  if (path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  std::string base = cwd;
  if (base.back() != '/') base += '/';
  return base + path;
}

int64_t DeviceOf(const std::string& path) {
  std::string p = AbsolutePath(path);
  while (!p.empty()) {
    struct stat st;
    if (::stat(p.c_str(), &st) == 0) return static_cast<int64_t>(st.st_dev);
    auto slash = p.find_last_of('/');
    if (slash == std::string::npos) break;
    p = slash == 0 ? "/" : p.substr(0, slash);
    if (p == "/") {
      return ::stat("/", &st) == 0 ? static_cast<int64_t>(st.st_dev) : -1;
    }
  }
  return -1;
}

namespace {

std::string trashHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data && *data) {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    base = std::string(home) + "/.local/share";
  }
  return base + "/Trash";
}

bool makePath(const std::string& path) {
  std::string acc;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!acc.empty()) MakeDirectory(acc);
    }
    if (i < path.size()) acc += path[i];
  }
  return DirectoryExists(path);
}

std::string percentEncode(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

bool MoveToTrash(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return fail(false);
  std::string trash = trashHome();
  if (trash.empty() || !makePath(trash + "/files") || !makePath(trash + "/info")) return false;
  std::string name = baseName(path);
  // Reserve a unique .trashinfo name first (O_EXCL), as freedesktop.org Trash asks.
  for (int n = 0; n < 10000; ++n) {
    std::string candidate = n == 0 ? name : name + "." + std::to_string(n);
    std::string info = trash + "/info/" + candidate + ".trashinfo";
    int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return fail(false);
    }
    char when[32];
    time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    std::string text = "[Trash Info]\nPath=" + percentEncode(AbsolutePath(path)) + "\nDeletionDate=" + when + "\n";
    bool ok = WriteFile(fd, text.data(), static_cast<int32_t>(text.size())) == static_cast<int32_t>(text.size());
    ::close(fd);
    std::string target = trash + "/files/" + candidate;
    if (ok && ::rename(path.c_str(), target.c_str()) == 0) return true;
    lastError = errno;
    ::unlink(info.c_str());
    return false;  // another file system: the Trash of the home cannot take it by a rename
  }
  return false;
}

uint32_t TickCount() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

namespace {

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

bool HoldsInstallation(const std::string& dir) { return FileExists(dir + "/records.dat"); }

std::string InstallDirWithout(const std::string& programDir) {
  if (HoldsInstallation(programDir)) return WithoutTrailingSlash(programDir);
  const char* home = std::getenv("HOME");
  return WithoutTrailingSlash(std::string(home && *home ? home : "/tmp") + "/Tarvelo");
}

std::string InstallDir() {
  const char* t = std::getenv("TARVELO_HOME");
  if (t && *t) return WithoutTrailingSlash(t);
  return InstallDirWithout(ProgramDir());
}

std::string ProgramDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<size_t>(n));
  auto slash = exe.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : exe.substr(0, slash);
}

namespace {

// The folder of path, without a trailing '/'.
std::string lockFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The descriptors that carry the lock of path, in the order it is tried: the folder, else the
// file (made when missing and the folder lets it be).
int openFolderForLock(const std::string& path) {
  return ::open(lockFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}
int openFileForLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

enum class LockTry { Taken, Busy, Unsupported };

// Holders keep the lock exclusive; LockHeld only looks, with a shared lock for an instant. A
// holder that meets only such a look tries again: a look must never turn a holder away.
LockTry takeLock(int fd) {
  constexpr int kTries = 1000;
  for (int i = 0; i < kTries; ++i) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockTry::Taken;
    if (errno != EWOULDBLOCK) return LockTry::Unsupported;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK ? LockTry::Busy : LockTry::Unsupported;
    ::flock(fd, LOCK_UN);
    ::sched_yield();
  }
  return LockTry::Busy;
}

// Whether someone holds fd's file locked exclusively; nullopt when it cannot be locked at all.
std::optional<bool> lockedElsewhere(int fd) {
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::flock(fd, LOCK_UN);
    return false;
  }
  if (errno == EWOULDBLOCK) return true;
  return std::nullopt;
}

}  // namespace

ProcessLock::ProcessLock(const std::string& path) {
  for (int (*openForLock)(const std::string&) : {openFolderForLock, openFileForLock}) {
    const int fd = openForLock(path);
    if (fd < 0) continue;
    const LockTry got = takeLock(fd);
    if (got == LockTry::Taken) {
      fd_ = fd;
      return;
    }
    ::close(fd);
    if (got == LockTry::Busy) {
      heldElsewhere_ = true;
      return;
    }
  }
}

ProcessLock::~ProcessLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool LockHeld(const std::string& path) {
  // The folder when it can be locked at all: a holder has it then, never the file.
  if (const int folder = openFolderForLock(path); folder >= 0) {
    const std::optional<bool> held = lockedElsewhere(folder);
    ::close(folder);
    if (held) return *held;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = lockedElsewhere(fd).value_or(false);
  ::close(fd);
  return held;
}

}  // namespace platform
