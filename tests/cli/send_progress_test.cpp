// The progress line of a send on a terminal.
#include "cli/send_progress.h"

#include "app/manual_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace pelrow::cli {
namespace {

TEST(SendProgress, TextsWithAndWithoutARate) {
  EXPECT_EQ(SendProgressText(0, 20480, 0.0), "Sending 0 of 20480 bytes (0%)");
  EXPECT_EQ(SendProgressText(10240, 20480, 3125.0 / 1024),
            "Sending 10240 of 20480 bytes (50%) at 3125 bytes/s = 3.05 KB/s, 0:04 left");
  EXPECT_EQ(SendProgressText(0, 0, 0.0), "Sending 0 of 0 bytes (100%)");
  EXPECT_EQ(DurationText(59), "0:59");
  EXPECT_EQ(DurationText(3599), "59:59");
  EXPECT_EQ(DurationText(3600 * 25 + 61), "25:01:01");
}

// Redrawn in place at most five times a second; removed at the end; nothing at all
// when standard error is no terminal.
TEST(SendProgress, RedrawsInPlaceAndClearsAtTheEnd) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* stream = ::open_memstream(&buffer, &size);
  test::TManualClock clock;
  {
    TSendProgress progress(stream, true, 1000, clock);
    progress.Update(0);
    clock.Now = 100;
    progress.Update(300); // too soon
    clock.Now = 1000;
    progress.Update(500);
    progress.Finish();
    TSendProgress silent(stream, false, 1000, clock);
    silent.Update(10);
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
