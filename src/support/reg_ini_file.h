// An ini-file view of a settings-store key: sections are its subkeys (created when
// first written) and each setting is a named value in one of them. Integers are
// kept as 32-bit number values, except that a value which already exists as text
// stays text; Booleans are the texts "0" and "1". Reads accept either form, and a
// missing section or value, or a text that is no decimal number, gives the default.
// Writing a value as it already stands changes nothing (the store sees to that).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/registry_store.h"

namespace pelrow {

class TRegIniFile {
public:
  TRegIniFile(TRegistryStore& store, std::string_view basePath);

  const std::string& BasePath() const { return FBasePath; }

  int32_t ReadInteger(std::string_view section, std::string_view ident, int32_t defaultValue) const;
  void WriteInteger(std::string_view section, std::string_view ident, int32_t value);
  bool ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const;
  void WriteBool(std::string_view section, std::string_view ident, bool value);
  // A number value reads as its decimal text.
  std::string ReadString(std::string_view section, std::string_view ident,
                         const std::string& defaultValue) const;
  void WriteString(std::string_view section, std::string_view ident, const std::string& value);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view ident) const;
  std::vector<std::string> ReadSections() const;
  std::vector<std::string> ReadSection(std::string_view section) const;
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view ident);

private:
  std::string SectionPath(std::string_view section) const;
  std::optional<TRegValue> Find(std::string_view section, std::string_view ident) const;
  void Write(std::string_view section, std::string_view ident, const TRegValue& value);

  TRegistryStore& FStore;
  std::string FBasePath;
};

} // namespace pelrow
