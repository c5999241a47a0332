#include "support/one_instance.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelrow {
namespace {

// A first instance in a process of its own. It reports over a pipe: "R" when it
// is ready, then one record per hand-over: the parameters, each ended by a
// newline, and a final "|" line.
class FirstInstanceProcess {
public:
  FirstInstanceProcess(const std::string& name, bool allowMultiple = false) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    FPid = ::fork();
    if (FPid == 0) {
      ::close(fds[0]);
      RunChild(name, allowMultiple, fds[1]);
    }
    ::close(fds[1]);
    FRead = fds[0];
    EXPECT_EQ(ReadFor(std::chrono::seconds(5)), "R");
  }
  ~FirstInstanceProcess() {
    Kill();
    ::close(FRead);
  }
  void Kill() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
      FPid = -1;
    }
  }
  // What the first instance reported within the time given.
  std::string ReadFor(std::chrono::milliseconds time) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{FRead, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0)
        continue;
      char buffer[4096];
      const ssize_t got = ::read(FRead, buffer, sizeof buffer);
      if (got <= 0)
        break;
      text.append(buffer, static_cast<std::size_t>(got));
      if (text == "R" || text.ends_with("|\n"))
        break;
    }
    return text;
  }

private:
  [[noreturn]] static void RunChild(const std::string& name, bool allowMultiple, int out) {
    TOneInstance first(name);
    first.CheckInstance({});
    if (allowMultiple)
      first.SetActive(false);
    first.OnBringToFront = [out](TOneInstance&) { (void)!::write(out, "front\n", 6); };
    first.OnInstanceStarted = [out](TOneInstance&, const std::vector<std::string>& params) {
      std::string record;
      for (const std::string& param : params)
        record += param + "\n";
      record += "|\n";
      (void)!::write(out, record.data(), record.size());
    };
    (void)!::write(out, first.IsFirstInstance() ? "R" : "X", 1);
    for (;;) {
      pollfd ready{first.HandOverSocket(), POLLIN, 0};
      if (::poll(&ready, 1, -1) > 0)
        first.ReceiveHandOver();
    }
  }
  pid_t FPid = -1;
  int FRead = -1;
};

class OneInstance : public ::testing::Test {
protected:
  void TearDown() override {
    ::shm_unlink(("/" + FName).c_str());
    ::sem_unlink(("/" + FName + "Sem").c_str());
  }
  const std::string FName = "pelrow-test-" + std::to_string(::getpid()) + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(OneInstance, ASecondStartHandsOverTenParametersCutTo300Characters) {
  FirstInstanceProcess first(FName);
  std::vector<std::string> params;
  for (int i = 1; i <= 12; ++i)
    params.push_back("file" + std::to_string(i) + ".syx");
  params[1] = std::string(400, 'x');

  TOneInstance second(FName);
  EXPECT_FALSE(second.CheckInstance(params));
  EXPECT_TRUE(second.IsSecondInstance());

  std::string expected = "front\n";
  for (std::size_t i = 0; i < 10; ++i)
    expected += (i == 1 ? std::string(300, 'x') : params[i]) + "\n";
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), expected + "|\n");
}

TEST_F(OneInstance, AStartWithoutParametersStillReachesTheFirstInstance) {
  FirstInstanceProcess first(FName);
  {
    TOneInstance second(FName);
    second.CheckInstance({});
    EXPECT_TRUE(second.IsSecondInstance());
  }
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front\n|\n");
  // Hand-overs queue one after the other.
  TOneInstance third(FName);
  third.CheckInstance({"a.syx"});
  EXPECT_TRUE(third.IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front\na.syx\n|\n");
}

TEST_F(OneInstance, WithMultipleInstancesAllowedEveryStartRunsOnItsOwn) {
  FirstInstanceProcess first(FName, /*allowMultiple=*/true);
  TOneInstance second(FName);
  EXPECT_FALSE(second.CheckInstance({"a.syx"}));
  EXPECT_FALSE(second.IsSecondInstance());
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(first.ReadFor(std::chrono::milliseconds(200)), "");
}

TEST_F(OneInstance, AKilledFirstInstanceIsTakenOverAtOnce) {
  {
    FirstInstanceProcess first(FName);
    first.Kill();
  }
  TOneInstance next(FName);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(next.CheckInstance({"a.syx"}));
  // Well below the ten seconds a start waits for a first instance that lives.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(next.IsSecondInstance());
}

TEST_F(OneInstance, WithoutASharedBlockTheProgramRunsOnItsOwn) {
  TOneInstance alone(std::string(300, 'n')); // longer than a shared-object name may be
  EXPECT_FALSE(alone.CheckInstance({"a.syx"}));
  EXPECT_FALSE(alone.IsSecondInstance());
  EXPECT_EQ(alone.HandOverSocket(), -1);
}

TEST_F(OneInstance, OnlyOneComponentPerProcess) {
  TOneInstance one(FName);
  try {
    TOneInstance two(FName);
    FAIL() << "a second component was created";
  } catch (const EOneInstanceError& error) {
    EXPECT_STREQ(error.what(), "Drop only one of these components on your form !");
  }
}

TEST(OneInstanceName, CopiesUnderOtherFileNamesOrUsersDoNotMeet) {
  const std::string uid = std::to_string(::getuid());
  EXPECT_EQ(TOneInstance::NameFor("/usr/bin/pelrow"), "pelrow-" + uid);
  EXPECT_EQ(TOneInstance::NameFor("/opt/a/pelrow"), TOneInstance::NameFor("/home/b/pelrow"));
  EXPECT_NE(TOneInstance::NameFor("/usr/bin/pelrow"), TOneInstance::NameFor("/usr/bin/pelrow2"));
}

} // namespace
} // namespace pelrow
