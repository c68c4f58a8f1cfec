#include "platform/gui/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {
namespace {

constexpr size_t kReadBlock = 65536;

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename durable: the folder's entry must reach the disk too.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

std::string IoErrorText(int error) {
  switch (error) {
    case ENOENT: return "File not found";
    case ENOTDIR: return "Path not found";
    case EACCES:
    case EPERM: return "Access denied";
    case ENOSPC: return "Disk full";
    case EDQUOT: return "Disk quota exceeded";
    case EROFS: return "Read-only file system";
    case EISDIR: return "Is a folder";
    case EFBIG: return "File too large";
    default: return "I/O error " + std::to_string(error) + " (" + std::strerror(error) + ")";
  }
}

TextFile::TextFile(std::string path) : FPath(std::move(path)) {}

TextFile::~TextFile() { Discard(); }

void TextFile::Discard() {
  if (FFd >= 0) ::close(FFd);
  if (!FTempPath.empty()) DeleteFile(FTempPath);
  FFd = -1;
  FTempPath.clear();
  FBuffer.clear();
  FMode = Mode::Closed;
}

void TextFile::Fail(int error) const { throw EInOutError(IoErrorText(error) + ": " + FPath, error); }

void TextFile::Reset() {
  Discard();
  FFd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (FFd < 0) Fail(errno);
  struct stat st;
  if (::fstat(FFd, &st) == 0 && S_ISDIR(st.st_mode)) {
    Discard();
    Fail(EISDIR);
  }
  FMode = Mode::Reading;
  FReadPos = 0;
}

void TextFile::OpenForWriting(int flags, bool mustExist) {
  Discard();
  FFd = ::open(FPath.c_str(), O_WRONLY | O_CLOEXEC | flags | (mustExist ? 0 : O_CREAT), 0666);
  if (FFd < 0) Fail(errno);
  FMode = Mode::Writing;
}

void TextFile::Rewrite() { OpenForWriting(O_TRUNC, false); }

void TextFile::Append() { OpenForWriting(O_APPEND, true); }

bool TextFile::AppendCreating() {
  Discard();
  for (int attempt = 0; attempt < 2; ++attempt) {
    FFd = ::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (FFd >= 0) {
      FMode = Mode::Writing;
      return true;
    }
    if (errno != EEXIST) Fail(errno);
    FFd = ::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (FFd >= 0) {
      FMode = Mode::Writing;
      return false;
    }
    if (errno != ENOENT) Fail(errno);  // deleted in between: try to create it again
  }
  Fail(ENOENT);
}

void TextFile::RewriteReplacing() {
  Discard();
  std::string temp = MakeTempFile(FolderOf(FPath), ".tarvelo-");
  if (temp.empty()) Fail(LastError() ? LastError() : EIO);
  FTempPath = temp;
  FFd = ::open(FTempPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (FFd < 0) {
    int e = errno;
    Discard();
    Fail(e);
  }
  // The new file keeps the permissions of the one it replaces.
  struct stat st;
  const mode_t mode =
      ::stat(FPath.c_str(), &st) == 0 ? static_cast<mode_t>(st.st_mode & 07777) : static_cast<mode_t>(NewFileMode());
  if (::fchmod(FFd, mode) != 0) {
    int e = errno;
    Discard();
    Fail(e);
  }
  FMode = Mode::Writing;
}

bool TextFile::Eof() {
  if (FMode != Mode::Reading) Fail(EBADF);
  if (FReadPos < FBuffer.size()) return false;
  FBuffer.resize(kReadBlock);
  ssize_t n;
  do {
    n = ::read(FFd, FBuffer.data(), kReadBlock);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int e = errno;
    FBuffer.clear();
    Fail(e);
  }
  FBuffer.resize(static_cast<size_t>(n));
  FReadPos = 0;
  return n == 0;
}

char TextFile::ReadChar() {
  if (Eof()) Fail(EIO);
  return FBuffer[FReadPos++];
}

void TextFile::Write(std::string_view utf8) {
  if (FMode != Mode::Writing) Fail(EBADF);
  auto bytes = Utf8ToCp1251(utf8);
  if (!bytes) {
    throw EInOutError("Text that code page 1251 cannot hold was not written to " + FPath + ": " +
                          std::string(utf8.substr(0, 200)),
                      0);
  }
  FBuffer += *bytes;
}

void TextFile::WriteLn(std::string_view utf8) {
  Write(utf8);
  FBuffer += "\r\n";
}

void TextFile::Flush() {
  if (FMode != Mode::Writing) Fail(EBADF);
  size_t done = 0;
  while (done < FBuffer.size()) {
    ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      FBuffer.erase(0, done);
      Fail(e);
    }
    done += static_cast<size_t>(n);
  }
  FBuffer.clear();
}

void TextFile::Close() {
  if (FMode == Mode::Closed) Fail(EBADF);
  if (FMode == Mode::Writing) Flush();
  if (!FTempPath.empty()) {
    if (::fsync(FFd) != 0) {
      int e = errno;
      Discard();
      Fail(e);
    }
  }
  int fd = FFd;
  FFd = -1;
  FMode = Mode::Closed;
  FBuffer.clear();
  if (::close(fd) != 0) {
    int e = errno;
    Discard();
    Fail(e);
  }
  if (!FTempPath.empty()) {
    if (!RenameFile(FTempPath, FPath)) {
      int e = errno;
      Discard();
      Fail(e);
    }
    FTempPath.clear();
    SyncFolder(FolderOf(FPath));
  }
}

}  // namespace platform
