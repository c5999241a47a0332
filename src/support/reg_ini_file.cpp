#include "support/reg_ini_file.h"

#include "support/general_utils.h"

namespace pelrow {

TRegIniFile::TRegIniFile(TRegistryStore& store, std::string_view basePath)
    : FStore(store), FBasePath(basePath) {}

std::string TRegIniFile::SectionPath(std::string_view section) const {
  return FBasePath + "\\" + std::string(section);
}

std::optional<TRegValue> TRegIniFile::Find(std::string_view section, std::string_view ident) const {
  return FStore.ReadValue(SectionPath(section), ident);
}

int32_t TRegIniFile::ReadInteger(std::string_view section, std::string_view ident,
                                 int32_t defaultValue) const {
  const auto value = Find(section, ident);
  if (!value)
    return defaultValue;
  if (value->Type == TRegValueType::Integer)
    return value->Integer;
  int32_t number = 0;
  return ParseDecimalInt32(value->Text, number) ? number : defaultValue;
}

void TRegIniFile::WriteInteger(std::string_view section, std::string_view ident, int32_t value) {
  const auto existing = Find(section, ident);
  const bool keepText = existing && existing->Type == TRegValueType::Text;
  Write(section, ident,
        keepText ? TRegValue::FromText(std::to_string(value)) : TRegValue::FromInteger(value));
}

void TRegIniFile::Write(std::string_view section, std::string_view ident, const TRegValue& value) {
  FStore.WriteValue(SectionPath(section), ident, value);
}

bool TRegIniFile::ReadBool(std::string_view section, std::string_view ident,
                           bool defaultValue) const {
  return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TRegIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

std::string TRegIniFile::ReadString(std::string_view section, std::string_view ident,
                                    const std::string& defaultValue) const {
  const auto value = Find(section, ident);
  if (!value)
    return defaultValue;
  return value->Type == TRegValueType::Text ? value->Text : std::to_string(value->Integer);
}

void TRegIniFile::WriteString(std::string_view section, std::string_view ident,
                              const std::string& value) {
  Write(section, ident, TRegValue::FromText(value));
}

bool TRegIniFile::SectionExists(std::string_view section) const {
  return FStore.KeyExists(SectionPath(section));
}

bool TRegIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  return Find(section, ident).has_value();
}

std::vector<std::string> TRegIniFile::ReadSections() const {
  return FStore.SubKeyNames(FBasePath);
}

std::vector<std::string> TRegIniFile::ReadSection(std::string_view section) const {
  return FStore.ValueNames(SectionPath(section));
}

void TRegIniFile::EraseSection(std::string_view section) {
  FStore.DeleteKey(SectionPath(section));
}

void TRegIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  FStore.DeleteValue(SectionPath(section), ident);
}

} // namespace pelrow
