#include "app/recorder_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "fake_media.h"
#include "fake_services.h"
#include "hotkeys/hotkey_edit.h"
#include "settings/settings_keys.h"

namespace tonvale::testing {
namespace {

struct FakeSaveDialog : platform::SaveFileDialog {
  bool accept = true;
  QString answer;
  QString seenTitle, seenDir, seenFilter;
  bool GetSaveFileName(QWidget*, const QString& title, const QString& dir, const QString&,
                       const QString& filter, QString* chosen) override {
    seenTitle = title;
    seenDir = dir;
    seenFilter = filter;
    if (accept)
      *chosen = answer;
    return accept;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    // A private folder: the temporary WAV goes there as it is.
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    media.AddDevice("Null Output", {"Microphone", "Monitor of Null Output"});
    profile.values[QStringLiteral("Option/output_wav_file")] =
        dir.filePath(QStringLiteral("a.mp3"));
  }
  std::unique_ptr<app::RecorderDialog> Make() {
    auto d = std::make_unique<app::RecorderDialog>(app::DialogServices{
        media, profile, handOff, boxes, desktop, hotkeys, saveDialog, QStringLiteral("/help")});
    return d;
  }
  QString Text(app::RecorderDialog& d, int id) {
    if (auto* l = qobject_cast<QLineEdit*>(d.control(id)))
      return l->text();
    if (auto* l = qobject_cast<QLabel*>(d.control(id)))
      return l->text();
    return {};
  }

  QTemporaryDir dir;
  FakeMediaFactory media;
  FakeProfileStore profile;
  FakeHandOff handOff;
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeHotkeyRegistrar hotkeys;
  FakeSaveDialog saveDialog;
};

TEST_F(DialogTest, StartUpFillsTheWindowInItsOrder) {
  auto d = Make();
  ASSERT_TRUE(d->OnInitDialog());
  d->show();
  QApplication::processEvents();

  EXPECT_EQ(d->windowTitle(), QStringLiteral("Tonvale"));
  EXPECT_EQ(Text(*d, 1008), dir.filePath(QStringLiteral("a.mp3")));
  EXPECT_EQ(Text(*d, 1035), QStringLiteral("Status : Ready"));
  for (int hidden : {1046, 1053, 1038, 1002, 1052}) {
    EXPECT_FALSE(d->control(hidden)->isVisible()) << hidden;
  }
  for (int shown : {1001, 1003, 1004, 1008, 1009, 1011, 1035, 1039, 1047, 1048, 1058, 1059}) {
    EXPECT_TRUE(d->control(shown)->isVisible()) << shown;
  }
  auto* lines = qobject_cast<QComboBox*>(d->control(1011));
  ASSERT_EQ(lines->count(), 2);
  EXPECT_EQ(lines->currentIndex(), 1) << "the monitor is chosen on a fresh install";
  EXPECT_EQ(Text(*d, 1058), QStringLiteral("Ctrl + Alt + r"));
  EXPECT_EQ(Text(*d, 1059), QStringLiteral("Ctrl + Alt + s"));
  EXPECT_EQ(hotkeys.registered.size(), 2u);
  EXPECT_EQ(d->engine().tempWavFile(), dir.filePath(QStringLiteral("qorntemp.wav")));
  EXPECT_EQ(d->engine().onlyOnce(), 0);
  EXPECT_EQ(QApplication::focusWidget(), d->control(1008));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(profile.writes.empty()) << "start-up writes nothing";
}

TEST_F(DialogTest, CloseWritesEverySettingInOrderEvenUnchanged) {
  auto d = Make();
  d->OnInitDialog();
  qobject_cast<QLineEdit*>(d->control(1008))->setText(dir.filePath(QStringLiteral("typed.mp3")));
  d->close();
  const std::vector<QString> expected = {
      QStringLiteral("Option/nSoundCaptureIndex"),
      QStringLiteral("Option/nCapturePinIndex"),
      QStringLiteral("Option/nSearchFlag"),
      QStringLiteral("Option/strSoundCaptureName"),
      QStringLiteral("Option/output_wav_file"),
      QStringLiteral("HotKey/mHotKey[0].fsModifiers"),
      QStringLiteral("HotKey/mHotKey[0].nVirtualKey"),
      QStringLiteral("HotKey/mHotKey[0].nSpeedData"),
      QStringLiteral("HotKey/mHotKey[1].fsModifiers"),
      QStringLiteral("HotKey/mHotKey[1].nVirtualKey"),
      QStringLiteral("HotKey/mHotKey[1].nSpeedData"),
  };
  EXPECT_EQ(profile.writes, expected);
  EXPECT_EQ(profile.values[QStringLiteral("Option/output_wav_file")],
            dir.filePath(QStringLiteral("typed.mp3")));
  EXPECT_EQ(profile.values[QStringLiteral("Option/nCapturePinIndex")], QStringLiteral("1"));
  EXPECT_EQ(profile.values[QStringLiteral("Option/nSearchFlag")], QStringLiteral("1"));
  EXPECT_TRUE(hotkeys.registered.empty());
  EXPECT_EQ(d->engine().hasGraph(), false);
}

TEST_F(DialogTest, EscapeAndEnterEndTheDialogWithoutWriting) {
  for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
    profile.writes.clear();
    auto d = Make();
    d->OnInitDialog();
    d->show();
    QTest::keyClick(d->control(1008), static_cast<Qt::Key>(key));
    EXPECT_FALSE(d->isVisible()) << key;
    EXPECT_TRUE(profile.writes.empty()) << key;
  }
}

TEST_F(DialogTest, EscapeDuringARecordingStillFinishesIt) {
  auto d = Make();
  d->OnInitDialog();
  d->show();
  d->OnRecord();
  ASSERT_TRUE(d->engine().recording());
  auto graph = media.graph();
  QTest::keyClick(d->control(1008), Qt::Key_Escape);
  EXPECT_EQ(graph->calls.back(), "StopWhenReady");
}

TEST_F(DialogTest, ClosingWhileRecordingEndsWithCompleteFiles) {
  auto d = Make();
  d->OnInitDialog();
  d->OnRecord();
  auto graph = media.graph();
  d->close();
  EXPECT_EQ(graph->calls.back(), "StopWhenReady");
}

TEST_F(DialogTest, NoCaptureDeviceEndsTheProgramWithoutWriting) {
  media.devices.clear();
  auto d = Make();
  d->OnInitDialog();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("No audio capture hardware!"));
  EXPECT_TRUE(d->initFailed());
  QTimer::singleShot(5000, d.get(), [&] { d->done(99); });
  EXPECT_EQ(d->exec(), QDialog::Rejected) << "the queued quit ends the modal loop by itself";
  EXPECT_TRUE(profile.writes.empty());
}

TEST_F(DialogTest, WithoutAPrivateTemporaryWavNothingRecords) {
  // A shared $TMPDIR whose folder for this user is taken by a file.
  const QString shared = dir.filePath(QStringLiteral("shared"));
  ASSERT_TRUE(QDir().mkpath(shared));
  ASSERT_TRUE(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
  QFile taken(shared + QStringLiteral("/tonvale-%1").arg(::geteuid()));
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  qputenv("TMPDIR", QFile::encodeName(shared));
  auto d = Make();
  d->OnInitDialog();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
  EXPECT_TRUE(boxes.shown[0].text.contains(
      taken.fileName() + QStringLiteral("\", cannot be used: it is not a folder")))
      << boxes.shown[0].text.toStdString();
  d->OnRecord();
  EXPECT_EQ(boxes.shown.size(), 2u) << "Record says it again";
  EXPECT_FALSE(d->engine().recording());
  EXPECT_TRUE(media.writers.empty());
}

TEST_F(DialogTest, GraphEventsArriveAsQueuedWindowEvents) {
  auto d = Make();
  d->OnInitDialog();
  auto graph = media.graph();
  ASSERT_TRUE(graph->notify);
  graph->Notify(EC_DEVICE_LOST, 0, 0);
  graph->notify(0);  // as the graph does from its own thread
  EXPECT_TRUE(boxes.shown.empty()) << "nothing runs inside the notification";
  QApplication::processEvents();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, QStringLiteral("The selected input device was removed!"));
  EXPECT_EQ(qobject_cast<QComboBox*>(d->control(1009))->count(), 0);
}

TEST_F(DialogTest, HotkeysRunRecordAndStopWhateverTheButtons) {
  auto d = Make();
  d->OnInitDialog();
  ASSERT_TRUE(hotkeys.handler);
  hotkeys.handler(0xA101);  // Stop in Ready does nothing
  EXPECT_EQ(Text(*d, 1035), QStringLiteral("Status : Ready"));
  hotkeys.handler(0xA100);
  EXPECT_EQ(Text(*d, 1035), QStringLiteral("Status : Recording audio - Used Time: 00:00:00"));
  EXPECT_FALSE(d->control(1004)->isEnabled());
  hotkeys.handler(0xA101);
  EXPECT_EQ(Text(*d, 1035), QStringLiteral("Status : Ready"));
  EXPECT_TRUE(d->control(1001)->isEnabled());
}

TEST_F(DialogTest, BrowseForcesTheMp3ExtensionAndStoresAtOnce) {
  struct Case {
    const char* chosen;
    const char* stored;
  };
  const std::vector<Case> cases = {
      {"/music/song.wav", "/music/song.mp3"},
      {"/music/song", "/music/song.mp3"},
      {"/music/live.2010.mp3", "/music/live.2010.mp3"},
      {"/My.Music/song", "/My.Music/song.mp3"},
      {"/a b/\"q\" $(x);é.ogg", "/a b/\"q\" $(x);é.mp3"},
  };
  auto d = Make();
  d->OnInitDialog();
  for (const auto& c : cases) {
    profile.writes.clear();
    saveDialog.answer = QString::fromUtf8(c.chosen);
    d->OnBrowse();
    EXPECT_EQ(saveDialog.seenTitle, QStringLiteral("Select Output"));
    EXPECT_EQ(saveDialog.seenFilter, QStringLiteral("mp3 file(*.mp3)"));
    EXPECT_EQ(Text(*d, 1008), QString::fromUtf8(c.stored));
    EXPECT_EQ(profile.values[QStringLiteral("Option/output_wav_file")],
              QString::fromUtf8(c.stored));
    EXPECT_EQ(profile.writes, std::vector<QString>{QStringLiteral("Option/output_wav_file")});
  }
  EXPECT_EQ(saveDialog.seenDir, QStringLiteral("/My.Music")) << "starts in the stored folder";

  saveDialog.accept = false;
  profile.writes.clear();
  d->OnBrowse();
  EXPECT_TRUE(profile.writes.empty());
  EXPECT_EQ(Text(*d, 1008), QStringLiteral("/a b/\"q\" $(x);é.mp3"));

  d->engine().SetOutputFile(QStringLiteral("nofolder.mp3"));
  d->OnBrowse();
  EXPECT_EQ(saveDialog.seenDir, QStringLiteral("."));
}

TEST_F(DialogTest, HelpOpensTheIntroductionPage) {
  auto d = Make();
  d->OnInitDialog();
  d->OnHelpButton();
  ASSERT_EQ(desktop.opened.size(), 1u);
  EXPECT_EQ(desktop.opened[0], QStringLiteral("file:///help/Introduction.html"));
}

}  // namespace
}  // namespace tonvale::testing
