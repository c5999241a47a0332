// The entry point of the tests that freeze, kill and restart JACK servers. JACK
// keeps a machine-wide registry of servers in /dev/shm with room for eight; a
// server killed with SIGKILL, or a test that dies with a server stopped, leaves
// its entry behind, and later servers on the machine fail to start. So before
// anything else (a new mount namespace needs a single-threaded process) the
// program takes an IPC namespace of its own with a fresh /dev/shm; the servers,
// peers and programs it starts inherit it, and it all vanishes with the process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

bool WriteFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY);
  if (fd < 0)
    return false;
  const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
  close(fd);
  return written;
}

// As root directly; otherwise through a user namespace in which we are root.
bool EnterNamespaces() {
  if (unshare(CLONE_NEWIPC | CLONE_NEWNS) != 0) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWIPC | CLONE_NEWNS) != 0)
      return false;
    WriteFile("/proc/self/setgroups", "deny");
    if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return false;
  }
  // Our mounts stay ours: nothing propagates back to the machine.
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}

} // namespace

int main(int argc, char** argv) {
  if (!EnterNamespaces()) {
    std::perror("cannot make a private /dev/shm for the JACK servers of these tests");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
