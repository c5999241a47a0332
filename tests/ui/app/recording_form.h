// The main window, recording the files it was asked to load instead of loading them.
#pragma once

#include "app/qt/pelrow_form.h"

#include <string>
#include <vector>

namespace pelrow::test {

class TRecordingForm : public TPelrowForm {
public:
  using TPelrowForm::TPelrowForm;
  void LoadFile(const std::string& fileName) override { Loaded.push_back(fileName); }
  std::vector<std::string> Loaded;
};

} // namespace pelrow::test
