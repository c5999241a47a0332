// The clipboard as the editor sees it: one text. The widget passes the desktop's
// clipboard; code without a display uses a clipboard held in memory.
#pragma once

#include <string>

namespace pelrow {

class TVKClipboard {
public:
  virtual ~TVKClipboard() = default;
  virtual bool HasText() const = 0;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

class TVKMemoryClipboard final : public TVKClipboard {
public:
  bool HasText() const override { return !FText.empty(); }
  std::string Text() const override { return FText; }
  void SetText(const std::string& text) override { FText = text; }

private:
  std::string FText;
};

} // namespace pelrow
