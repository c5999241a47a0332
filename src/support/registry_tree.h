// The in-memory form of the settings store: a tree of keys, each holding typed
// values (32-bit integer or text) and subkeys. Names keep the case in which they
// were first written, but lookups ignore ASCII case, as the registry does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

// The registry's own limit on key nesting; it also bounds the recursion over a tree
// read from a file.
constexpr std::size_t kMaxKeyDepth = 512;

enum class TRegValueType { Integer, Text };

struct TRegValue {
  TRegValueType Type = TRegValueType::Text;
  int32_t Integer = 0;
  std::string Text;

  static TRegValue FromInteger(int32_t value) { return {TRegValueType::Integer, value, {}}; }
  static TRegValue FromText(std::string value) {
    return {TRegValueType::Text, 0, std::move(value)};
  }
  bool operator==(const TRegValue&) const = default;
};

// The lookup form of a key or value name.
std::string FoldedName(std::string_view name);

// Splits "\Software\Narvell\x" into its key names. Leading, trailing and doubled
// backslashes are dropped, so the legacy key's trailing backslash does no harm.
std::vector<std::string> SplitKeyPath(std::string_view path);

class TRegKeyNode {
public:
  struct TNamedValue {
    std::string Name;
    TRegValue Value;
  };
  using TValueMap = std::map<std::string, TNamedValue>;
  using TSubKeyMap = std::map<std::string, std::unique_ptr<TRegKeyNode>>;

  explicit TRegKeyNode(std::string name = {}) : FName(std::move(name)) {}

  const std::string& Name() const { return FName; }
  // Both maps are ordered by folded name, which gives a stable order on disk.
  const TValueMap& Values() const { return FValues; }
  const TSubKeyMap& SubKeys() const { return FSubKeys; }

  const TRegValue* FindValue(std::string_view name) const;
  void SetValue(std::string_view name, TRegValue value);
  bool RemoveValue(std::string_view name);

  TRegKeyNode* FindSubKey(std::string_view name) const;
  TRegKeyNode& SubKey(std::string_view name);
  bool RemoveSubKey(std::string_view name);

  // Walks a split path from this key; nullptr when a key on the way is missing.
  TRegKeyNode* FindPath(const std::vector<std::string>& path);
  const TRegKeyNode* FindPath(const std::vector<std::string>& path) const;
  // Walks a split path, creating the keys that are missing.
  TRegKeyNode& CreatePath(const std::vector<std::string>& path);
  // Removes the last key of the path with everything below it.
  bool RemovePath(const std::vector<std::string>& path);

private:
  std::string FName;
  TValueMap FValues;
  TSubKeyMap FSubKeys;
};

} // namespace pelrow
