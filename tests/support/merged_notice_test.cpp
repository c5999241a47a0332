// Device-change notices from backend threads merged into one answer on the UI thread.
#include "support/merged_notice.h"
#include "support/queued_poster.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pelrow {
namespace {

TEST(MergedNotice, ManyNoticesFromManyThreadsBringOneAnswer) {
  TQueuedPoster ui;
  int answers = 0;
  TMergedNotice notice(ui, [&] { ++answers; });
  const std::function<void()> raise = notice.Raiser();
  std::vector<std::thread> backends;
  for (int t = 0; t < 4; ++t)
    backends.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        raise();
    });
  for (std::thread& backend : backends)
    backend.join();
  EXPECT_EQ(ui.RunPending(), 1u);
  EXPECT_EQ(answers, 1);

  // The next change after the answer is answered again.
  raise();
  ui.RunPending();
  EXPECT_EQ(answers, 2);
}

TEST(MergedNotice, ANoticeDuringTheAnswerIsAnsweredOnceMore) {
  TQueuedPoster ui;
  int answers = 0;
  std::function<void()> raise;
  TMergedNotice notice(ui, [&] {
    if (++answers == 1)
      raise(); // a device arrived while the lists were rescanned
  });
  raise = notice.Raiser();
  raise();
  ui.RunPending();
  ui.RunPending();
  EXPECT_EQ(answers, 2);
}

TEST(MergedNotice, NothingIsAnsweredOnceTheNoticeIsGone) {
  TQueuedPoster ui;
  int answers = 0;
  std::function<void()> raise;
  {
    TMergedNotice notice(ui, [&] { ++answers; });
    raise = notice.Raiser();
    raise(); // queued before the window went
  }
  raise(); // a backend thread that still holds the handler
  ui.RunPending();
  EXPECT_EQ(answers, 0);
  EXPECT_EQ(ui.Waiting(), 0u);
}

} // namespace
} // namespace pelrow
