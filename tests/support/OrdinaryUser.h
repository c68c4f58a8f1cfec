#pragma once
// Root reads every file whatever its mode, so a test of what an ordinary user cannot read proves
// nothing when it runs as root. While a TOrdinaryUser lives, the calling thread (the one the
// programs do all their work on) checks file modes as an ordinary user's would be checked: root's
// power to pass over them leaves its effective capabilities, stays permitted, and comes back at
// the end. An ordinary user has nothing to give up.
#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testsupport {

class TOrdinaryUser {
 public:
  TOrdinaryUser() {
    if (::geteuid() != 0) return;
    if (::syscall(SYS_capget, &FHeader, FSaved) != 0) return;
    __user_cap_data_struct reduced[2] = {FSaved[0], FSaved[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    FDropped = ::syscall(SYS_capset, &FHeader, reduced) == 0;
  }
  ~TOrdinaryUser() {
    if (FDropped) ::syscall(SYS_capset, &FHeader, FSaved);
  }
  TOrdinaryUser(const TOrdinaryUser&) = delete;
  TOrdinaryUser& operator=(const TOrdinaryUser&) = delete;

  // Whether a folder of mode 000 is now closed to this thread; when not, the caller skips.
  // (access() would not tell: for root it checks with the permitted capabilities.)
  static bool CannotList(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir) ::closedir(dir);
    return dir == nullptr;
  }
  // Whether a folder without write permission now refuses this thread a new file.
  static bool CannotWriteInto(const std::string& folder) {
    std::string probe = folder + "/.probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return true;
    ::close(fd);
    ::unlink(probe.c_str());
    return false;
  }

 private:
  __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct FSaved[2]{};
  bool FDropped = false;
};

}  // namespace testsupport
