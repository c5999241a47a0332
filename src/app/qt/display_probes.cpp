#include "app/qt/display_probes.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <cstdlib>
#include <xcb/xcb.h>

namespace pelrow {

namespace {

constexpr const char* kWaylandPluginPattern = "libqwayland*.so";

// The folders Qt searches for platform plugins, in its own order.
QStringList PlatformPluginFolders() {
  QStringList folders;
  if (const char* direct = std::getenv("QT_QPA_PLATFORM_PLUGIN_PATH"))
    folders << QString::fromLocal8Bit(direct);
  if (const char* extra = std::getenv("QT_PLUGIN_PATH"))
    for (const QString& folder : QString::fromLocal8Bit(extra).split(':', Qt::SkipEmptyParts))
      folders << folder + "/platforms";
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms";
  return folders;
}

} // namespace

bool XServerAnswers(const std::string& display) {
  // A full connection, so a server that refuses us (no authority) counts as absent
  // just as it would for Qt.
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool answered = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answered;
}

bool QtHasWaylandPlugin() {
  for (const QString& folder : PlatformPluginFolders())
    if (!QDir(folder).entryList({kWaylandPluginPattern}, QDir::Files).isEmpty())
      return true;
  return false;
}

TDisplayProbes PlatformDisplayProbes() {
  return {XServerAnswers, UnixSocketAnswers, QtHasWaylandPlugin};
}

} // namespace pelrow
