// The progress line of a transfer on a terminal.
#include "cli/progress_line.h"

#include "app/manual_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace pelrow::cli {
namespace {

TEST(ProgressLine, TextsWithAndWithoutARate) {
  EXPECT_EQ(SendProgressText(0, 20480, 0.0), "Sending 0 of 20480 bytes (0%)");
  EXPECT_EQ(SendProgressText(10240, 20480, 3125.0 / 1024),
            "Sending 10240 of 20480 bytes (50%) at 3125 bytes/s = 3.05 KB/s, 0:04 left");
  EXPECT_EQ(SendProgressText(0, 0, 0.0), "Sending 0 of 0 bytes (100%)");
  EXPECT_EQ(DurationText(59), "0:59");
  EXPECT_EQ(DurationText(3599), "59:59");
  EXPECT_EQ(DurationText(3600 * 25 + 61), "25:01:01");
  EXPECT_EQ(CaptureProgressText(0, 0, 0.0), "Received 0 bytes, 0 messages");
  EXPECT_EQ(CaptureProgressText(6250, 2, 3125.0 / 1024),
            "Received 6250 bytes, 2 messages at 3125 bytes/s = 3.05 KB/s");
}

// Redrawn in place at most five times a second; removed at the end; nothing at all
// when standard error is no terminal.
TEST(ProgressLine, RedrawsInPlaceAndClearsAtTheEnd) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* stream = ::open_memstream(&buffer, &size);
  test::TManualClock clock;
  {
    const auto text = [](int64_t sent) {
      return [sent](double kbps) { return SendProgressText(sent, 1000, kbps); };
    };
    TProgressLine progress(stream, true, clock);
    progress.Update(0, text(0));
    clock.Now = 100;
    progress.Update(300, text(300)); // too soon
    clock.Now = 1000;
    progress.Update(500, text(500));
    progress.Finish();
    TProgressLine silent(stream, false, clock);
    silent.Update(10, text(10));
    silent.Finish();
  }
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, size),
            "\r\033[KSending 0 of 1000 bytes (0%)"
            "\r\033[KSending 500 of 1000 bytes (50%) at 500 bytes/s = 0.49 KB/s, 0:01 left"
            "\r\033[K");
  std::free(buffer);
}

} // namespace
} // namespace pelrow::cli
