// Where received data is shown: the In box's lines as the receive pump sees them,
// and the steps that put one received message there.
#pragma once

#include "app/status_report.h"
#include "editor/vkstrings.h"
#include "midi/midi_records.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

// The In box's lines. Changes between BeginUpdate and EndUpdate cost one repaint.
class TReceiveLines {
public:
  virtual ~TReceiveLines() = default;
  virtual int Count() const = 0;
  virtual std::string_view Line(int index) const = 0;
  virtual void Add(std::string_view line) = 0;
  // Appends many lines in one step.
  virtual void AddLines(std::vector<std::string> lines) = 0;
  // Appends text to the end of the last line.
  virtual void AppendToLast(std::string_view text) = 0;
  // Deletes count lines from index on.
  virtual void Delete(int index, int count) = 0;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  // Makes room for at least count lines in all, before a large batch.
  virtual void Reserve(int count) = 0;
  // Scroll to the last line after a short delay; many requests make one scroll.
  virtual void DeferScrollToEnd() = 0;
  // Scroll to the last line at once.
  virtual void ScrollToEnd() = 0;
  // Paint the box now.
  virtual void Repaint() = 0;
};

// A line list as the In box. The window derives from it to add scrolling and
// painting; the command-line program and the benchmarks use it as it is.
class TVKStringsReceiveLines : public TReceiveLines {
public:
  explicit TVKStringsReceiveLines(TVKStrings& lines) : FLines(lines) {}

  int Count() const override { return FLines.Count(); }
  std::string_view Line(int index) const override { return FLines.Get(index); }
  void Add(std::string_view line) override { FLines.Add(std::string(line)); }
  void AddLines(std::vector<std::string> lines) override {
    FLines.InsertLines(FLines.Count(), std::move(lines));
  }
  void AppendToLast(std::string_view text) override {
    const int last = FLines.Count() - 1;
    FLines.InsertInLine(last, FLines.LineLength(last), text);
  }
  void Delete(int index, int count) override { FLines.DeleteLines(index, count); }
  void BeginUpdate() override { FLines.BeginUpdate(); }
  void EndUpdate() override { FLines.EndUpdate(); }
  void Reserve(int count) override {
    if (count > 0)
      FLines.Reserve(static_cast<size_t>(count));
  }
  void DeferScrollToEnd() override {}
  void ScrollToEnd() override {}
  void Repaint() override {}

protected:
  TVKStrings& FLines;
};

// Holds the lines' update bracket for a scope, also when an exception passes.
class TReceiveUpdate {
public:
  explicit TReceiveUpdate(TReceiveLines& lines) : FLines(lines) { FLines.BeginUpdate(); }
  ~TReceiveUpdate() { FLines.EndUpdate(); }
  TReceiveUpdate(const TReceiveUpdate&) = delete;
  TReceiveUpdate& operator=(const TReceiveUpdate&) = delete;

private:
  TReceiveLines& FLines;
};

// Appends long data as lines cut by limit (see FormatHexLine); false after a
// failure, which is reported on the In side.
bool AddLongMessageLines(const uint8_t* data, int length, int limit, TReceiveLines& lines,
                         const TShowStatus& showStatus);

// Appends one piece of a long message. When openLineBytes > 0, the box's last line
// holds that many bytes of the same message, and the piece's first bytes join it as
// far as the cut rules allow, so the pieces of one message show as formatting the
// whole message at once would. Answers the bytes on the last line afterwards.
int AddMessagePieceLines(const uint8_t* data, int length, int limit, int openLineBytes,
                         TReceiveLines& lines, const TShowStatus& showStatus);

// Appends every line of a received event (see the formatter's AddEventLines).
bool AddEventLines(const TMyMidiEvent& event, int limit, TReceiveLines& lines,
                   const TShowStatus& showStatus);

// Shows one short message, or a gap's mark, as its line, inside one update, with a
// deferred scroll to the end; the event is released whatever happens.
void DisplayShortEvent(std::unique_ptr<TMyMidiEvent> event, TReceiveLines& lines,
                       const TShowStatus& showStatus);

} // namespace pelrow
