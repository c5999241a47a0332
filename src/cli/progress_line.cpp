// Drawing the progress of a transfer.
#include "cli/progress_line.h"

#include "support/text_format.h"
#include "app/send_rate.h"

#include <cmath>

namespace pelrow::cli {

namespace {
constexpr const char* TextProgress = "Sending %d of %d bytes (%d%%)";
constexpr const char* TextProgressRate = "Sending %d of %d bytes (%d%%) at %s, %s left";
constexpr const char* TextCapture = "Received %d bytes, %d messages";
constexpr const char* TextCaptureRate = "Received %d bytes, %d messages at %s";
constexpr const char* TextMinutes = "%d:%s";
constexpr const char* TextHours = "%d:%s:%s";
constexpr uint32_t RedrawMs = 200;
// Back to the start of the line and clear it, as every terminal understands.
constexpr const char* ClearLine = "\r\033[K";
} // namespace

namespace {
std::string TwoDigits(long long value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
}
} // namespace

std::string DurationText(int64_t seconds) {
  const long long s = seconds < 0 ? 0 : seconds;
  return s >= 3600 ? FormatText(TextHours, s / 3600, TwoDigits(s / 60 % 60), TwoDigits(s % 60))
                   : FormatText(TextMinutes, s / 60, TwoDigits(s % 60));
}

std::string SendProgressText(int64_t sent, int64_t total, double kbps) {
  const int percent = total > 0 ? static_cast<int>(sent * 100 / total) : 100;
  if (kbps <= 0)
    return FormatText(TextProgress, static_cast<long long>(sent), static_cast<long long>(total),
                      percent);
  const double bytesPerSecond = kbps * 1024.0;
  const auto secondsLeft =
      static_cast<int64_t>(std::ceil(static_cast<double>(total - sent) / bytesPerSecond));
  return FormatText(TextProgressRate, static_cast<long long>(sent), static_cast<long long>(total),
                    percent, FormatRate(kbps).c_str(), DurationText(secondsLeft).c_str());
}

std::string CaptureProgressText(int64_t bytes, int messages, double kbps) {
  const auto count = static_cast<long long>(bytes);
  return kbps <= 0 ? FormatText(TextCapture, count, messages)
                   : FormatText(TextCaptureRate, count, messages, FormatRate(kbps).c_str());
}

TProgressLine::TProgressLine(std::FILE* stream, bool enabled, TClock& clock)
    : FStream(stream), FEnabled(enabled), FClock(clock), FDrawnTime(clock.NowMs()),
      FRateTime(FDrawnTime) {}

void TProgressLine::Update(int64_t bytes, const TText& text) {
  if (!FEnabled)
    return;
  const uint32_t now = FClock.NowMs();
  if (FShown && now - FDrawnTime < RedrawMs)
    return;
  UpdateRate(now, FRateTime, FRateBytes, FRate, bytes);
  std::fputs(ClearLine, FStream);
  std::fputs(text(FRate).c_str(), FStream);
  std::fflush(FStream);
  FShown = true;
  FDrawnTime = now;
}

void TProgressLine::Finish() {
  if (!FShown)
    return;
  std::fputs(ClearLine, FStream);
  std::fflush(FStream);
  FShown = false;
}

} // namespace pelrow::cli
