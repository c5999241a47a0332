#include "support/qt/latin1_text.h"

namespace pelrow {

QString Latin1(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string Latin1Bytes(const QString& text) {
  return text.toLatin1().toStdString();
}

} // namespace pelrow
