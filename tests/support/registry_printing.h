// Readable test failure messages for settings-store values.
#pragma once

#include <optional>
#include <ostream>

#include "support/registry_tree.h"

namespace pelrow {

inline void PrintTo(const TRegValue& value, std::ostream* out) {
  if (value.Type == TRegValueType::Integer)
    *out << "integer " << value.Integer;
  else
    *out << "text \"" << value.Text << '"';
}

} // namespace pelrow
