#include "settings/profile_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <filesystem>

#include "qt_printers.h"
#include "settings/output_file.h"
#include "settings/settings_keys.h"
#include "settings/sink_hand_off.h"

namespace tonvale::settings {
namespace {

using namespace Qt::StringLiterals;

// Only a plain 32-bit decimal reads as a number, else the default; garbage in the file and a
// comma in a path change nothing else. Values come back as written, earlier ones stay, and the
// files become the user's alone. Without a file: tests/e2e.
TEST(Settings, ProfileReadsPlainNumbersOrDefaultsWritesFilesOfTheUsersAloneAndBrowseTakesMp3) {
  QSettingsProfileStore store{u"sonarelrecorder"_s};
  const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Velmora"_s;
  const QString file = folder + u"/sonarelrecorder.conf"_s;
  using namespace option;
  const auto number = [&](const QString& key) { return store.GetProfileInt(kSection, key, 42); };
  const auto output = [&] { return store.GetProfileString(kSection, kOutputFile, {}); };
  const std::pair<const char*, int> cases[] = {{"-1", -1},         {"2147483647", 2147483647},
                                               {"2147483648", 42}, {" 7 ", 7},
                                               {"1,2", 42},        {"0x10", 42}};
  // As an earlier version left it: open to everyone.
  QByteArray text = QByteArray("\x00\xff\xfe[[[=\n=\n[Option\nnSearchFlag\n\x01\x02", 24) +
                    "\n[Option]\noutput_wav_file=/music/a,b.mp3\n";
  for (std::size_t i = 0; i < std::size(cases); ++i)
    text += "k" + QByteArray::number(i) + "=" + cases[i].first + "\n";
  QDir(folder).removeRecursively();
  QFile out(file);
  ASSERT_TRUE(QDir().mkpath(folder) && out.open(QIODevice::WriteOnly) && out.write(text) > 0 &&
              out.flush());
  std::filesystem::permissions(folder.toStdString(), std::filesystem::perms(0755));
  std::filesystem::permissions(file.toStdString(), std::filesystem::perms(0644));
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(number(u"k%1"_s.arg(i)), cases[i].second) << cases[i].first;
  EXPECT_EQ(number(kSearchFlag), 42);
  EXPECT_EQ(output(), u"/music/a,b.mp3"_s);

  const QString path = u"/tmp/a b/\"quoted\" $(x); `y` é, z=1 #c.mp3"_s + QString(4000, u'x');
  store.WriteProfileString(kSection, kOutputFile, path);
  store.WriteProfileInt(kSection, kSoundCaptureIndex, -1);
  ASSERT_TRUE(QSettingsSinkHandOff().WriteOutputPath(u"/music/take 1.mp3"_s));
  EXPECT_EQ(std::tuple(output(), number(kSoundCaptureIndex), number(u"k1"_s)),
            std::tuple(path, -1, 2147483647));
  namespace fs = std::filesystem;
  for (const auto& [entry, mode] : {std::pair{folder, fs::perms(0700)},
                                    {file, fs::perms(0600)},
                                    {folder + u"/LYRAVOX.conf"_s, fs::perms(0600)}})
    EXPECT_TRUE(fs::status(entry.toStdString()).permissions() == mode) << entry.toStdString();

  // Browse starts in the stored file's folder and forces mp3 (in the window: tests/app).
  EXPECT_EQ(BrowseInitialDir(u"take.mp3"_s), u"."_s);
  EXPECT_EQ(WithMp3Extension(u"/a.b/c"_s), u"/a.b/c.mp3"_s);
  EXPECT_EQ(WithMp3Extension(u"/a/.hidden"_s), u"/a/.mp3"_s);
}

}  // namespace
}  // namespace tonvale::settings
