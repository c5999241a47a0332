#include "support/registry_tree.h"

namespace pelrow {

std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > start)
      names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

const TRegValue* TRegKeyNode::FindValue(std::string_view name) const {
  const auto found = FValues.find(FoldedName(name));
  return found == FValues.end() ? nullptr : &found->second.Value;
}

void TRegKeyNode::SetValue(std::string_view name, TRegValue value) {
  auto [entry, added] = FValues.try_emplace(FoldedName(name), TNamedValue{std::string(name), {}});
  entry->second.Value = std::move(value);
}

bool TRegKeyNode::RemoveValue(std::string_view name) {
  return FValues.erase(FoldedName(name)) > 0;
}

TRegKeyNode* TRegKeyNode::FindSubKey(std::string_view name) const {
  const auto found = FSubKeys.find(FoldedName(name));
  return found == FSubKeys.end() ? nullptr : found->second.get();
}

TRegKeyNode& TRegKeyNode::SubKey(std::string_view name) {
  auto& slot = FSubKeys[FoldedName(name)];
  if (!slot)
    slot = std::make_unique<TRegKeyNode>(std::string(name));
  return *slot;
}

bool TRegKeyNode::RemoveSubKey(std::string_view name) {
  return FSubKeys.erase(FoldedName(name)) > 0;
}

TRegKeyNode* TRegKeyNode::FindPath(const std::vector<std::string>& path) {
  TRegKeyNode* key = this;
  for (const auto& name : path) {
    key = key->FindSubKey(name);
    if (key == nullptr)
      return nullptr;
  }
  return key;
}

const TRegKeyNode* TRegKeyNode::FindPath(const std::vector<std::string>& path) const {
  return const_cast<TRegKeyNode*>(this)->FindPath(path);
}

TRegKeyNode& TRegKeyNode::CreatePath(const std::vector<std::string>& path) {
  TRegKeyNode* key = this;
  for (const auto& name : path)
    key = &key->SubKey(name);
  return *key;
}

bool TRegKeyNode::RemovePath(const std::vector<std::string>& path) {
  if (path.empty())
    return false;
  TRegKeyNode* parent = FindPath({path.begin(), path.end() - 1});
  return parent != nullptr && parent->RemoveSubKey(path.back());
}

} // namespace pelrow
