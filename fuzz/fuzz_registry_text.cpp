// Fuzz target for the settings file reader: any bytes either read into a tree
// whose written form reads back to the same text, or are refused with a reason.
#include "support/registry_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pelrow::TRegKeyNode root;
  std::string error;
  if (!pelrow::ParseRegistryText(text, root, error)) {
    if (error.empty())
      std::abort();
    return 0;
  }
  const std::string written = pelrow::FormatRegistryText(root);
  pelrow::TRegKeyNode again;
  if (!pelrow::ParseRegistryText(written, again, error) ||
      pelrow::FormatRegistryText(again) != written)
    std::abort();
  return 0;
}
