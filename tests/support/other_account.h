// A throwaway second local account, for tests of what another user on the same
// machine can do to ours. Making one needs root and useradd; where that is not
// possible, SkipReason says why. The account is removed again at the end.
#pragma once

#include <cstdlib>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace pelrow::test {

class TOtherAccount {
public:
  TOtherAccount() {
    if (::geteuid() != 0) {
      FSkipReason = "making a second local account needs root";
      return;
    }
    FName = "pelrowt" + std::to_string(::getpid() % 100000);
    const std::string add = "useradd --no-create-home --user-group --shell /usr/sbin/nologin " +
                            FName + " >/dev/null 2>&1";
    const passwd* entry = std::system(add.c_str()) == 0 ? ::getpwnam(FName.c_str()) : nullptr;
    if (entry == nullptr) {
      FSkipReason = "useradd could not make a second local account";
      FName.clear();
      return;
    }
    FUid = entry->pw_uid;
    FGid = entry->pw_gid;
  }
  ~TOtherAccount() {
    if (!FName.empty())
      (void)!std::system(("userdel " + FName + " >/dev/null 2>&1").c_str());
  }
  TOtherAccount(const TOtherAccount&) = delete;
  TOtherAccount& operator=(const TOtherAccount&) = delete;

  const std::string& SkipReason() const { return FSkipReason; }
  uid_t Uid() const { return FUid; }
  gid_t Gid() const { return FGid; }

  // Runs action in a process of the other account, as setpriv would start it: no
  // supplementary groups, real and effective ids both the account's. True when
  // the action answered true.
  bool Run(const std::function<bool()>& action) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(FGid, FGid, FGid) == 0 &&
                           ::setresuid(FUid, FUid, FUid) == 0;
      ::_exit(dropped && action() ? 0 : 1);
    }
    int status = -1;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

private:
  std::string FName;
  std::string FSkipReason;
  uid_t FUid = 0;
  gid_t FGid = 0;
};

} // namespace pelrow::test
