#include "settings/profile_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>

#include "qt_printers.h"
#include "settings/output_file.h"
#include "settings/settings_keys.h"
#include "settings/sink_hand_off.h"

namespace tonvale::settings {
namespace {

using namespace Qt::StringLiterals;

// QSettings fixes its folder once per process: every test starts without settings.
class ProfileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { QDir(folder).removeRecursively(); }
  void WriteFile(const QByteArray& text) {
    QDir().mkpath(folder);
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(text) > 0);
  }
  int Int(const QString& key, int defaultValue = 42) {
    return store.GetProfileInt(option::kSection, key, defaultValue);
  }
  QString Output() {
    return store.GetProfileString(option::kSection, option::kOutputFile,
                                  option::DefaultOutputFile());
  }

  QSettingsProfileStore store{u"sonarelrecorder"_s};
  const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Velmora"_s;
  const QString file = folder + u"/sonarelrecorder.conf"_s;
};

// Without a file, or from a garbled one, every value is its default; a number is read only
// when it is a plain 32-bit decimal.
TEST_F(ProfileStoreTest, ReadsPlainNumbersAndOtherwiseTheDefaults) {
  for (const QByteArray& garbage :
       {QByteArray(), QByteArray("\x00\xff\xfe[[[=\n=\n[Option\nnSearchFlag\n\x01\x02", 24)}) {
    if (!garbage.isNull())
      WriteFile(garbage);
    EXPECT_EQ(Int(option::kSearchFlag), 42);
    EXPECT_EQ(Output(), QDir::homePath() + u"/sonarelrecorder.mp3"_s);
  }
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"-1", -1}, {"2147483647", 2147483647}, {"2147483648", 42}, {"garbage", 42}, {" 7 ", 7},
      {"99999999999999999999999", 42}, {"1,2", 42}, {"0x10", 42}, {"\"longer than 4 bytes\"", 42}};
  // clang-format on
  QByteArray text = "[Option]\noutput_wav_file=/music/a,b.mp3\n";  // edited by hand
  for (std::size_t i = 0; i < std::size(cases); ++i)
    text += "k" + QByteArray::number(i) + "=" + cases[i].first + "\n";
  WriteFile(text);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(Int(u"k%1"_s.arg(i)), cases[i].second) << cases[i].first;
  EXPECT_EQ(Int(u"missing"_s), 42);
  EXPECT_EQ(Output(), u"/music/a,b.mp3"_s);
}

// Values come back as written, apart per program name, in files of the user's alone (files
// an earlier version left open to everyone included); the hand-off is where the sink reads it.
TEST_F(ProfileStoreTest, WritesRoundTripIntoFilesOfTheUsersAlone) {
  const QString path = u"/tmp/a b/\"quoted\" $(x); `y` é, z=1 #c.mp3"_s + QString(4000, u'x');
  const auto mode = [](const QString& entry) {
    struct stat st {};
    return ::stat(QFile::encodeName(entry).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier);
    QDir(folder).removeRecursively();
    if (earlier) {
      WriteFile("[Option]\nnSearchFlag=1\n");
      ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
      ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    store.WriteProfileString(option::kSection, option::kOutputFile, path);
    store.WriteProfileInt(option::kSection, option::kSoundCaptureIndex, -1);
    ASSERT_TRUE(QSettingsSinkHandOff().WriteOutputPath(u"/music/take 1.mp3"_s));
    EXPECT_EQ(Output(), path);
    EXPECT_EQ(Int(option::kSoundCaptureIndex), -1);
    EXPECT_EQ(Int(option::kSearchFlag, 0), earlier ? 1 : 0);
    EXPECT_EQ(QSettingsProfileStore(u"myrecorder"_s)
                  .GetProfileInt(option::kSection, option::kSoundCaptureIndex, 0),
              0);
    EXPECT_EQ(QSettings(u"Velmora"_s, u"LYRAVOX"_s).value(u"OutputMP3Name/Default"_s).toString(),
              u"/music/take 1.mp3"_s);
    for (const auto& [entry, expected] :
         {std::pair{folder, 0700u}, {file, 0600u}, {folder + u"/LYRAVOX.conf"_s, 0600u}})
      EXPECT_EQ(mode(entry), expected) << entry.toStdString();
  }
}

TEST(OutputFile, BrowseStartsInTheStoredFolderAndForcesTheMp3Extension) {
  EXPECT_EQ(BrowseInitialDir(u"/home/u/sonarelrecorder.mp3"_s), u"/home/u"_s);
  EXPECT_EQ(BrowseInitialDir(u"take.mp3"_s), u"."_s);
  EXPECT_EQ(WithMp3Extension(u"/a.b/c"_s), u"/a.b/c.mp3"_s);
  EXPECT_EQ(WithMp3Extension(u"/a/.hidden"_s), u"/a/.mp3"_s);
}

}  // namespace
}  // namespace tonvale::settings
