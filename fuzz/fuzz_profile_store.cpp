// Reads an arbitrary settings file through the settings store and the hotkey table, the way
// start-up does. Any crash or sanitizer report is a finding; the reads must also keep the
// store's rule that an integer is either the default or the number the file spells.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "hotkeys/hotkey_table.h"
#include "settings/profile_store.h"

namespace {

QTemporaryDir* Home() {
  static QTemporaryDir* home = [] {
    auto* dir = new QTemporaryDir;
    setenv("XDG_CONFIG_HOME", dir->path().toUtf8().constData(), 1);
    QDir().mkpath(dir->filePath(QStringLiteral("Velmora")));
    return dir;
  }();
  return home;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 1;
  static char name[] = "fuzz_profile_store";
  static char* argv[] = {name, nullptr};
  // Never destroyed: at exit Qt's own globals are gone before a static application would be.
  static auto* app = new QCoreApplication(argc, argv);
  (void)app;
  // A fresh program name each run: QSettings caches parsed files by name.
  static unsigned run = 0;
  const QString application = QStringLiteral("fuzz%1").arg(run++ % 4096);
  const QString path = Home()->filePath(QStringLiteral("Velmora/%1.conf").arg(application));
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
      std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  tonvale::settings::QSettingsProfileStore store(application);
  for (const char* key : {"nSoundCaptureIndex", "nCapturePinIndex", "nSearchFlag", "b_only_once"}) {
    const QString k = QString::fromLatin1(key);
    const int a = store.GetProfileInt(QStringLiteral("Option"), k, 12345);
    const int b = store.GetProfileInt(QStringLiteral("Option"), k, -6789);
    // Either both defaults, or the same stored number both times.
    if (!(a == 12345 && b == -6789) && a != b)
      std::abort();
  }
  (void)store.GetProfileString(QStringLiteral("Option"), QStringLiteral("output_wav_file"),
                               QStringLiteral("default"));
  tonvale::hotkeys::HotkeyTable table;
  table.LoadHotKeys(store);
  // Writing back what was read and reading it again gives the same values.
  table.SaveHotKeys(store);
  tonvale::hotkeys::HotkeyTable again;
  again.LoadHotKeys(store);
  for (int i = 0; i < tonvale::hotkeys::HotkeyTable::kEntries; ++i) {
    if (again.mHotKey[i].fsModifiers != table.mHotKey[i].fsModifiers ||
        again.mHotKey[i].nVirtualKey != table.mHotKey[i].nVirtualKey ||
        again.mHotKey[i].nSpeedData != table.mHotKey[i].nSpeedData)
      std::abort();
  }
  QFile::remove(path);
  return 0;
}
