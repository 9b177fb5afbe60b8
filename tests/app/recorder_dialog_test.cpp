// The main window on fake services, and the About box and the input hint it opens.

#include "app/recorder_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <set>

#include "app/about_dialog.h"
#include "app/input_hint_dialog.h"
#include "app/level_meter_feed.h"
#include "controls/level_meter.h"
#include "controls/round_button.h"
#include "fake_media.h"
#include "fake_services.h"
#include "resources/templates.h"

namespace tonvale::testing {
namespace {

using namespace Qt::Literals::StringLiterals;

struct FakeSaveDialog : platform::SaveFileDialog {
  QString answer;    // null: cancelled
  QStringList seen;  // title, folder, filter
  bool GetSaveFileName(QWidget*, const QString& title, const QString& dir, const QString&,
                       const QString& filter, QString* chosen) override {
    seen = {title, dir, filter};
    *chosen = answer.isNull() ? *chosen : answer;
    return !answer.isNull();
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    qputenv("TMPDIR", QFile::encodeName(dir.path()));  // private: the temporary WAV goes there
    media.AddDevice("Null Output", {"Microphone", "Monitor of Null Output"});
    profile.values[u"Option/output_wav_file"_s] = dir.filePath(u"a.mp3"_s);
  }
  std::unique_ptr<app::RecorderDialog> Start() {
    auto d = std::make_unique<app::RecorderDialog>(app::DialogServices{
        media, profile, handOff, boxes, desktop, hotkeys, saveDialog, u"/help"_s});
    d->OnInitDialog();
    return d;
  }
  static QString Text(app::RecorderDialog& d, int id) {
    return d.control(id)->property("text").toString();
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

// Start-up fills the window. Escape, Enter and the close end it and the recording (its files
// complete); only the close writes the settings, every one in order.
TEST_F(DialogTest, StartUpFillsTheWindowAndItsEndFinishesTheRecordingAndOnlyTheCloseWrites) {
  QStringList written = {u"Option/nSoundCaptureIndex"_s, u"Option/nCapturePinIndex"_s,
                         u"Option/nSearchFlag"_s, u"Option/strSoundCaptureName"_s,
                         u"Option/output_wav_file"_s};
  for (int i : {0, 1})
    for (const char* key : {"fsModifiers", "nVirtualKey", "nSpeedData"})
      written << u"HotKey/mHotKey[%1].%2"_s.arg(i).arg(QLatin1String(key));
  for (const int key : {int(Qt::Key_Escape), int(Qt::Key_Return), 0}) {  // 0: the close
    SCOPED_TRACE(key);
    auto d = Start();
    d->show();
    QApplication::processEvents();
    EXPECT_EQ(Text(*d, 1008), dir.filePath(u"a.mp3"_s));
    // Out of use: the homepage button, Pause, the volume slider and its labels.
    const std::set<int> hidden = {1046, 1002, 1038, 1052, 1053};
    for (const resources::ControlTemplate& c :
         resources::Template(resources::kMainTemplate)->controls)
      EXPECT_TRUE(!d->control(c.id) || d->control(c.id)->isVisible() != hidden.count(c.id)) << c.id;
    EXPECT_EQ(qobject_cast<QComboBox*>(d->control(1011))->currentIndex(), 1) << "the monitor";
    EXPECT_EQ(std::tuple(Text(*d, 1058), Text(*d, 1059), hotkeys.registered.size()),
              std::tuple(u"Ctrl + Alt + r"_s, u"Ctrl + Alt + s"_s, 2u));
    EXPECT_EQ(d->engine().tempWavFile(), dir.filePath(u"qorntemp.wav"_s));
    EXPECT_EQ(d->engine().onlyOnce(), 0);  // read after the lists are filled
    EXPECT_EQ(QApplication::focusWidget(), d->control(1008));
    EXPECT_TRUE(boxes.shown.empty() && profile.writes.empty());

    d->control(1008)->setProperty("text", dir.filePath(u"typed.mp3"_s));
    d->OnRecord();
    ASSERT_TRUE(d->engine().recording());
    key ? QTest::keyClick(d->control(1008), Qt::Key(key)) : void(d->close());
    EXPECT_EQ(std::tuple(d->isVisible(), d->engine().hasGraph(), media.graph()->calls.back()),
              std::tuple(false, false, "StopWhenReady"));
  }
  EXPECT_EQ(profile.writes, written);
  EXPECT_EQ(profile.values[u"Option/output_wav_file"_s], dir.filePath(u"typed.mp3"_s));
  EXPECT_EQ(profile.values[u"Option/nCapturePinIndex"_s], u"1"_s);  // the monitor
  EXPECT_TRUE(hotkeys.registered.empty());
}

TEST_F(DialogTest, WithoutAPrivateTemporaryWavNothingRecords) {
  // A shared $TMPDIR whose folder for this user is taken by a file.
  const QString shared = dir.filePath(u"shared"_s);
  ASSERT_TRUE(QDir().mkpath(shared));
  ASSERT_TRUE(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
  QFile taken(shared + u"/tonvale-%1"_s.arg(::geteuid()));
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  qputenv("TMPDIR", QFile::encodeName(shared));
  auto d = Start();
  d->OnRecord();
  ASSERT_EQ(boxes.shown.size(), 2u) << "at start-up, and again on Record";
  EXPECT_TRUE(boxes.shown[1].text.contains(taken.fileName())) << boxes.shown[1].text.toStdString();
  EXPECT_EQ(std::tuple(boxes.shown[0].text, boxes.shown[1].caption, d->engine().recording(),
                       media.writers.size()),
            std::tuple(boxes.shown[1].text, u"Error"_s, false, 0u));
}

// A hotkey pressed while one of the program's boxes or dialogs is open does nothing: the
// handler that opened it has not returned.
TEST_F(DialogTest, HotkeysDoNothingWhileABoxIsOpen) {
  auto d = Start();
  d->show();
  QDialog box(d.get());
  box.setModal(true);
  box.show();
  hotkeys.handler(0xA100);
  EXPECT_FALSE(d->engine().recording());
  box.close();
  hotkeys.handler(0xA100);
  EXPECT_TRUE(d->engine().recording());
}

TEST_F(DialogTest, GraphEventsArriveAsQueuedWindowEvents) {
  auto d = Start();
  auto graph = media.graph();
  graph->Notify(EC_DEVICE_LOST, 0, 0);
  graph->notify(0);  // as the graph does from its own thread
  EXPECT_TRUE(boxes.shown.empty()) << "nothing runs inside the notification";
  QApplication::processEvents();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, u"The selected input device was removed!"_s);
  EXPECT_EQ(qobject_cast<QComboBox*>(d->control(1009))->count(), 0);
}

// Browse stores the chosen path with the mp3 extension at once (the rules: tests/settings).
TEST_F(DialogTest, BrowseForcesTheMp3ExtensionAndStoresAtOnceAndHelpOpensTheIntroduction) {
  auto d = Start();
  const QString stored = u"/My.Music/\"q\" $(x);é.mp3"_s;
  saveDialog.answer = u"/My.Music/\"q\" $(x);é.ogg"_s;
  d->OnBrowse();
  EXPECT_EQ(Text(*d, 1008), stored);
  EXPECT_EQ(profile.values[u"Option/output_wav_file"_s], stored);
  EXPECT_EQ(profile.writes, QStringList{u"Option/output_wav_file"_s});
  saveDialog.answer = QString();
  d->OnBrowse();  // starts in the stored file's folder; cancelled, it changes nothing
  EXPECT_EQ(saveDialog.seen,
            (QStringList{u"Select Output"_s, u"/My.Music"_s, u"mp3 file(*.mp3)"_s}));
  EXPECT_EQ(profile.writes.size(), 1);
  EXPECT_EQ(Text(*d, 1008), stored);
  d->OnHelpButton();
  EXPECT_EQ(desktop.opened, QStringList{u"file:///help/Introduction.html"_s});
}

// The box shows the last choice OK took (ticked at first); only OK (Enter, the default)
// stores it. OK with the box ticked, and a fresh hint ticked: tests/e2e (windows).
TEST(InputHintDialog, OnlyOkStoresTheBox) {
  FakeProfileStore profile;
  app::InputHintDialog dialog(profile);
  auto* box = dialog.findChild<QCheckBox*>(u"1055"_s);
  EXPECT_EQ(qobject_cast<controls::RoundButton*>(dialog.findChild<QPushButton*>(u"1"_s)), nullptr);
  for (const int key : {int(Qt::Key_Escape), 0, int(Qt::Key_Return)}) {  // 0: close button
    SCOPED_TRACE(key);
    dialog.open();
    EXPECT_TRUE(box->isChecked());
    box->click();
    key ? QTest::keyClick(&dialog, Qt::Key(key)) : void(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    const bool ok = key == Qt::Key_Return;
    EXPECT_EQ(dialog.result(), ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(profile.writes.size(), ok ? 1 : 0);
    EXPECT_EQ(dialog.m_bDontShowAgain, ok ? 0 : 1);
  }
  EXPECT_EQ(profile.values[u"Option/b_only_once"_s], u"0"_s);
}

// Its OK is painted (Enter closes it: tests/e2e, windows); beside the text, the program's
// icon, a red dot.
TEST(AboutDialog, OkIsAPaintedRoundButtonBesideTheIcon) {
  app::AboutDialog about;
  ASSERT_NE(about.m_btnOK, nullptr);
  EXPECT_EQ(about.m_btnOK->buttonType(), 1);  // a default push button: painted
  const QLabel* icon = nullptr;
  for (const QLabel* l : about.findChildren<QLabel*>()) icon = l->pixmap().isNull() ? icon : l;
  ASSERT_NE(icon, nullptr);
  const QRgb dot = about.grab().toImage().pixel(icon->geometry().center());
  EXPECT_TRUE(qRed(dot) > 150 && qGreen(dot) < 80) << std::hex << dot;
}

struct FakeLevelMonitor : platform::LevelMonitor {
  std::shared_ptr<platform::Pin> watched;
  platform::LineLevels levels;
  HRESULT Watch(const std::shared_ptr<platform::Pin>& p) override { return watched = p, S_OK; }
  void Stop() override { watched.reset(); }
  bool Read(platform::LineLevels* out) override { return watched && (*out = levels, true); }
  std::string Line() const {
    std::string name = "(none)";
    return watched ? (watched->QueryPinInfo(&name), name) : name;
  }
};

// Fields are named by their labels, the meter by its level. The meter covers no control, meters
// the selected line only while the window shows and follows another choice; a recording's
// start clears its clip mark.
TEST_F(DialogTest, TheMeterFollowsTheLineWhileShownAndFieldsAreNamedByTheirLabels) {
  FakeLevelMonitor monitor;
  monitor.levels = {{{0.5F, 0.25F}, {1.0F, 0.5F}}, false};
  profile.values[u"Option/b_only_once"_s] = u"1"_s;
  app::RecorderDialog d(app::DialogServices{media, profile, handOff, boxes, desktop, hotkeys,
                                            saveDialog, u"/help"_s, nullptr, &monitor});
  d.OnInitDialog();
  QStringList names;
  for (int id : {1008, 1058, 1059, 1009, 1011}) names << d.control(id)->accessibleName();
  EXPECT_EQ(names.join(u'|'),
            u"Record To|Start Record hotkey|Stop Record hotkey|Sound card|Input line"_s);
  EXPECT_EQ(monitor.Line(), "(none)");
  d.show();
  QApplication::processEvents();
  QWidget* meter = d.levelMeter();
  const auto meterName = [meter] {
    return QAccessible::queryAccessibleInterface(meter)->text(QAccessible::Name);
  };
  EXPECT_TRUE(d.rect().contains(meter->geometry()));
  for (const resources::ControlTemplate& c :
       resources::Template(resources::kMainTemplate)->controls)
    EXPECT_FALSE(d.control(c.id)->isVisible() &&
                 d.control(c.id)->geometry().intersects(meter->geometry()))
        << c.id;
  EXPECT_EQ(monitor.Line(), "Monitor of Null Output");
  EXPECT_EQ(meterName(), u"Input level 0 dB, clipped"_s);
  qobject_cast<QComboBox*>(d.control(1011))->setCurrentIndex(0);
  d.engine().OnInputLineSelected();
  monitor.levels.channels[1].peak = 0.25F;
  d.levelMeterFeed()->Tick();
  EXPECT_EQ(monitor.Line(), "Microphone");
  EXPECT_EQ(meterName(), u"Input level -6 dB, clipped"_s);
  d.OnRecord();
  ASSERT_TRUE(d.engine().recording());
  EXPECT_EQ(meterName(), u"Input level -6 dB"_s);
  for (auto hide : {&QWidget::showMinimized, &QWidget::hide}) {
    (d.*hide)();
    EXPECT_EQ(monitor.Line() + (d.levelMeterFeed()->running() ? " running" : ""), "(none)");
    d.showNormal();
    EXPECT_EQ(monitor.Line(), "Microphone");
  }
}

}  // namespace
}  // namespace tonvale::testing
