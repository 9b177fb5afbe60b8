#include "settings/profile_store.h"
#include "settings/sink_hand_off.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "qt_printers.h"
#include "settings/output_file.h"
#include "settings/settings_keys.h"

namespace tonvale::settings {
namespace {

// QSettings fixes its folder once per process: every test starts from an empty one.
class ProfileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(folder.isEmpty());
    home.setPath(folder);
    QDir(home.filePath(QStringLiteral("Velmora"))).removeRecursively();
  }
  void WriteFile(const QByteArray& text) {
    QDir().mkpath(home.filePath(QStringLiteral("Velmora")));
    QFile file(home.filePath(QStringLiteral("Velmora/sonarelrecorder.conf")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }

  QDir home;
};

TEST_F(ProfileStoreTest, FirstRunGivesTheDefaults) {
  QSettingsProfileStore store(QStringLiteral("sonarelrecorder"));
  EXPECT_EQ(store.GetProfileInt(option::kSection, option::kSoundCaptureIndex, 0), 0);
  EXPECT_EQ(
      store.GetProfileInt(QStringLiteral("HotKey"), QStringLiteral("mHotKey[0].fsModifiers"), 3),
      3);
  EXPECT_EQ(
      store.GetProfileString(option::kSection, option::kOutputFile, option::DefaultOutputFile()),
      QDir::homePath() + QStringLiteral("/sonarelrecorder.mp3"));
}

TEST_F(ProfileStoreTest, IntegersReadOnlyWhenTheyAre32BitNumbers) {
  WriteFile(
      "[Option]\n"
      "nSoundCaptureIndex=-1\n"
      "nCapturePinIndex=2147483647\n"
      "nSearchFlag=2147483648\n"
      "b_only_once=garbage\n"
      "huge=99999999999999999999999\n"
      "spaced= 7 \n"
      "list=1,2\n"
      "hex=0x10\n"
      "[HotKey]\n"
      "mHotKey%5B0%5D.nVirtualKey=\"a string longer than four bytes\"\n");
  QSettingsProfileStore store(QStringLiteral("sonarelrecorder"));
  const std::vector<std::pair<const char*, int>> cases = {
      {"nSoundCaptureIndex", -1},
      {"nCapturePinIndex", 2147483647},
      {"nSearchFlag", 42},
      {"b_only_once", 42},
      {"huge", 42},
      {"spaced", 7},
      {"list", 42},
      {"hex", 42},
      {"missing", 42},
  };
  for (const auto& [key, expected] : cases) {
    EXPECT_EQ(store.GetProfileInt(option::kSection, QString::fromLatin1(key), 42), expected) << key;
  }
  EXPECT_EQ(
      store.GetProfileInt(QStringLiteral("HotKey"), QStringLiteral("mHotKey[0].nVirtualKey"), 82),
      82);
}

TEST_F(ProfileStoreTest, GarbageFileGivesDefaultsWithoutACrash) {
  WriteFile(QByteArray("\x00\xff\xfe[[[=\n=\n[Option\nnSearchFlag\n\x01\x02", 24));
  QSettingsProfileStore store(QStringLiteral("sonarelrecorder"));
  EXPECT_EQ(store.GetProfileInt(option::kSection, option::kSearchFlag, 0), 0);
  EXPECT_EQ(store.GetProfileString(option::kSection, option::kOutputFile, QStringLiteral("d")),
            QStringLiteral("d"));
}

TEST_F(ProfileStoreTest, ValuesRoundTripWholeAndPerProgramName) {
  const QString path = QStringLiteral("/tmp/a b/\"quoted\" $(x); `y` é, z=1 #c.mp3") +
                       QString(4000, QLatin1Char('x'));
  {
    QSettingsProfileStore store(QStringLiteral("sonarelrecorder"));
    store.WriteProfileString(option::kSection, option::kOutputFile, path);
    store.WriteProfileInt(option::kSection, option::kSoundCaptureIndex, -1);
  }
  QSettingsProfileStore again(QStringLiteral("sonarelrecorder"));
  EXPECT_EQ(again.GetProfileString(option::kSection, option::kOutputFile, QString()), path);
  EXPECT_EQ(again.GetProfileInt(option::kSection, option::kSoundCaptureIndex, 0), -1);

  QSettingsProfileStore renamed(QStringLiteral("myrecorder"));
  EXPECT_EQ(renamed.GetProfileInt(option::kSection, option::kSoundCaptureIndex, 0), 0);
  EXPECT_TRUE(QFile::exists(home.filePath(QStringLiteral("Velmora/sonarelrecorder.conf"))));
}

TEST_F(ProfileStoreTest, HandOffIsWhereTheSinkReadsIt) {
  QSettingsSinkHandOff handOff;
  ASSERT_TRUE(handOff.WriteOutputPath(QStringLiteral("/music/take 1.mp3")));
  QSettings sink(QStringLiteral("Velmora"), QStringLiteral("LYRAVOX"));
  EXPECT_EQ(sink.value(QStringLiteral("OutputMP3Name/Default")).toString(),
            QStringLiteral("/music/take 1.mp3"));
}

TEST(OutputFile, BrowseRules) {
  EXPECT_EQ(BrowseInitialDir(QStringLiteral("/home/u/sonarelrecorder.mp3")),
            QStringLiteral("/home/u"));
  EXPECT_EQ(BrowseInitialDir(QStringLiteral("take.mp3")), QStringLiteral("."));
  EXPECT_EQ(WithMp3Extension(QStringLiteral("/a.b/c")), QStringLiteral("/a.b/c.mp3"));
  EXPECT_EQ(WithMp3Extension(QStringLiteral("/a/.hidden")), QStringLiteral("/a/.mp3"));
}

TEST_F(ProfileStoreTest, SettingsAreReadableByTheUserAlone) {
  const QString folder = home.filePath(QStringLiteral("Velmora"));
  const QString file = folder + QStringLiteral("/sonarelrecorder.conf");
  auto mode = [](const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  // A first run, and files an earlier version left open to everyone.
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "earlier files" : "first run");
    QDir(folder).removeRecursively();
    if (earlier) {
      WriteFile("[Option]\nnSearchFlag=1\n");
      ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
      ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    QSettingsProfileStore store(QStringLiteral("sonarelrecorder"));
    store.WriteProfileInt(option::kSection, option::kSoundCaptureIndex, 3);
    ASSERT_TRUE(QSettingsSinkHandOff().WriteOutputPath(QStringLiteral("/music/a.mp3")));
    EXPECT_EQ(mode(folder), 0700u);
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(mode(folder + QStringLiteral("/LYRAVOX.conf")), 0600u);
    EXPECT_EQ(store.GetProfileInt(option::kSection, option::kSoundCaptureIndex, 0), 3);
    EXPECT_EQ(store.GetProfileInt(option::kSection, option::kSearchFlag, 0), earlier ? 1 : 0);
  }
}

}  // namespace
}  // namespace tonvale::settings
