#include "hotkeys/hotkey_table.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMap>
#include <QStringList>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "hotkeys/hotkey_edit.h"

namespace tonvale::hotkeys {
namespace {

using namespace Qt::Literals::StringLiterals;

// Behaves like the system: a combination is refused when another id (of this program) holds
// it, or when another program holds it (refused).
class FakeRegistrar : public platform::HotkeyRegistrar {
 public:
  void SetHandler(std::function<void(int)>) override {}
  bool RegisterHotKey(int id, unsigned modifiers, unsigned vk) override {
    calls.push_back(QStringLiteral("register %1 %2 %3").arg(id, 0, 16).arg(modifiers).arg(vk));
    const std::pair<unsigned, unsigned> combo{modifiers, vk};
    if (refused.count(combo))
      return false;
    for (const auto& [otherId, held] : registered) {
      if (otherId != id && held == combo)
        return false;
    }
    registered[id] = combo;
    return true;
  }
  void UnregisterHotKey(int id) override {
    calls.push_back(QStringLiteral("unregister %1").arg(id, 0, 16));
    registered.erase(id);
  }

  QStringList calls;
  std::set<std::pair<unsigned, unsigned>> refused;
  std::map<int, std::pair<unsigned, unsigned>> registered;
};

class FakeBoxes : public platform::MessageBoxes {
 public:
  struct Shown {
    QWidget* owner;
    QString text;
    QString caption;
    Icon icon;
  };
  void Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
    shown.push_back({owner, text, caption, icon});
  }
  void Beep() override {}
  std::vector<Shown> shown;
};

class FakeStore : public platform::ProfileStore {
 public:
  int GetProfileInt(const QString& section, const QString& key, int defaultValue) override {
    return ints.value(section + u'/' + key, defaultValue);
  }
  void WriteProfileInt(const QString& section, const QString& key, int value) override {
    writes.push_back(section + u'/' + key + u'=' + QString::number(value));
    ints[section + u'/' + key] = value;
  }
  QString GetProfileString(const QString&, const QString&, const QString& d) override { return d; }
  void WriteProfileString(const QString&, const QString&, const QString&) override {}

  QMap<QString, int> ints;
  QStringList writes;
};

const QString kMessageStart = QStringLiteral(
    "Start Record hot key failed!. It may conflict with another hotkey. Try a new hotkey");
const QString kMessageStop = QStringLiteral(
    "Stop Record hot key failed!. It may conflict with another hotkey. Try a new hotkey");

TEST(HotkeyTable, LoadsDefaultsAndEachMissingValueFallsBackOnItsOwn) {
  struct Case {
    QMap<QString, int> stored;
    // entry 0 then 1: modifiers, key, speed data
    std::tuple<unsigned, unsigned, int, unsigned, unsigned, int> expected;
  };
  const std::vector<Case> cases = {
      {{}, {3, 82, 0, 3, 83, 0}},
      {{{QStringLiteral("HotKey/mHotKey[0].fsModifiers"), 6},
        {QStringLiteral("HotKey/mHotKey[1].nVirtualKey"), 0x74},
        {QStringLiteral("HotKey/mHotKey[1].nSpeedData"), 9}},
       {6, 82, 0, 3, 0x74, 9}},
      {{{QStringLiteral("HotKey/mHotKey[0].nVirtualKey"), 0},
        {QStringLiteral("HotKey/mHotKey[0].fsModifiers"), 0},
        {QStringLiteral("Option/mHotKey[1].fsModifiers"), 4}},  // wrong section: not ours
       {0, 0, 0, 3, 83, 0}},
  };
  for (const Case& c : cases) {
    FakeStore store;
    store.ints = c.stored;
    HotkeyTable table;
    EXPECT_EQ(table.LoadHotKeys(store), 1);
    const auto& e = table.mHotKey;
    EXPECT_EQ(std::make_tuple(e[0].fsModifiers, e[0].nVirtualKey, e[0].nSpeedData, e[1].fsModifiers,
                              e[1].nVirtualKey, e[1].nSpeedData),
              c.expected);
    EXPECT_EQ(e[0].szName, QStringLiteral("Start Record"));
    EXPECT_EQ(e[1].szName, QStringLiteral("Stop Record"));
    EXPECT_EQ(e[0].nHotKeyId, 0xA100);
    EXPECT_EQ(e[1].nHotKeyId, 0xA101);
    EXPECT_TRUE(store.writes.isEmpty());
  }
}

TEST(HotkeyTable, FirstFailureStopsRegistrationAndNamesTheEntry) {
  QWidget owner;
  struct Case {
    const char* name;
    std::pair<unsigned, unsigned> entry1;
    std::set<std::pair<unsigned, unsigned>> refused;
    QStringList expectedCalls;
    QString expectedMessage;  // empty: no box
    int expectedResult;
  };
  const std::vector<Case> cases = {
      {"both free", {3, 83}, {}, {u"register a100 3 82"_s, u"register a101 3 83"_s}, {}, 1},
      {"start record held elsewhere",
       {3, 83},
       {{3, 82}},
       {u"register a100 3 82"_s},
       kMessageStart,
       0},
      {"stop record held elsewhere",
       {3, 83},
       {{3, 83}},
       {u"register a100 3 82"_s, u"register a101 3 83"_s},
       kMessageStop,
       0},
      {"both entries the same",
       {3, 82},
       {},
       {u"register a100 3 82"_s, u"register a101 3 82"_s},
       kMessageStop,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStore store;
    HotkeyTable table;
    table.LoadHotKeys(store);
    table.mHotKey[1].fsModifiers = c.entry1.first;
    table.mHotKey[1].nVirtualKey = c.entry1.second;
    FakeRegistrar registrar;
    registrar.refused = c.refused;
    FakeBoxes boxes;
    EXPECT_EQ(table.RegisterHotKeys(registrar, boxes, &owner), c.expectedResult);
    EXPECT_EQ(registrar.calls, c.expectedCalls);
    if (c.expectedMessage.isEmpty()) {
      EXPECT_TRUE(boxes.shown.empty());
    } else {
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(boxes.shown[0].text, c.expectedMessage);
      EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
      EXPECT_EQ(boxes.shown[0].icon, platform::MessageBoxes::Icon::None);
      EXPECT_EQ(boxes.shown[0].owner, &owner);
    }
    // An entry registered before the failure stays registered.
    EXPECT_EQ(registrar.registered.count(0xA100) == 1, !c.refused.count({3, 82}));
  }
}

TEST(HotkeyTable, SavesTheSixValuesInOrder) {
  FakeStore store;
  HotkeyTable table;
  table.LoadHotKeys(store);
  table.mHotKey[0] = {QStringLiteral("Start Record"), 5, 0x70, 0xA100, 11};
  table.mHotKey[1].nSpeedData = -2;
  EXPECT_EQ(table.SaveHotKeys(store), 1);
  EXPECT_EQ(store.writes, (QStringList{
                              u"HotKey/mHotKey[0].fsModifiers=5"_s,
                              u"HotKey/mHotKey[0].nVirtualKey=112"_s,
                              u"HotKey/mHotKey[0].nSpeedData=11"_s,
                              u"HotKey/mHotKey[1].fsModifiers=3"_s,
                              u"HotKey/mHotKey[1].nVirtualKey=83"_s,
                              u"HotKey/mHotKey[1].nSpeedData=-2"_s,
                          }));
  // What was saved loads back unchanged.
  HotkeyTable reloaded;
  reloaded.LoadHotKeys(store);
  EXPECT_EQ(reloaded.mHotKey[0].fsModifiers, 5u);
  EXPECT_EQ(reloaded.mHotKey[0].nVirtualKey, 0x70u);
  EXPECT_EQ(reloaded.mHotKey[1].nSpeedData, -2);
}

TEST(HotkeyTable, FieldLosingFocusReregistersBothAndSavesOnlyOnSuccess) {
  QWidget owner;
  struct Case {
    const char* name;
    int entry;
    std::pair<unsigned, unsigned> field;
    std::set<std::pair<unsigned, unsigned>> refused;
    bool saved;
  };
  const std::vector<Case> cases = {
      {"unchanged combination", 0, {3, 82}, {}, true},
      {"new stop combination", 1, {6, 0x74}, {}, true},
      {"start combination taken", 0, {2, 0x41}, {{2, 0x41}}, false},
      {"stop equal to start", 1, {3, 82}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStore store;
    store.ints[QStringLiteral("HotKey/mHotKey[0].nSpeedData")] = 7;
    store.ints[QStringLiteral("HotKey/mHotKey[1].nSpeedData")] = 8;
    HotkeyTable table;
    table.LoadHotKeys(store);
    FakeRegistrar registrar;
    FakeBoxes boxes;
    table.RegisterHotKeys(registrar, boxes, &owner);
    registrar.calls.clear();
    registrar.refused = c.refused;

    HotkeyEdit field;
    field.SetModifiers(c.field.first);
    field.SetVirtualKey(c.field.second);
    table.OnFieldKillFocus(c.entry, field, registrar, boxes, &owner, store);

    const HotKeyEntry& e = table.mHotKey[c.entry];
    EXPECT_EQ(e.fsModifiers, c.field.first);
    EXPECT_EQ(e.nVirtualKey, c.field.second);
    EXPECT_EQ(e.nSpeedData, 0);
    EXPECT_EQ(table.mHotKey[1 - c.entry].nSpeedData, c.entry == 0 ? 8 : 7);
    ASSERT_GE(registrar.calls.size(), 3);
    EXPECT_EQ(registrar.calls.mid(0, 3), (QStringList{u"unregister a100"_s, u"unregister a101"_s,
                                                      QStringLiteral("register a100 %1 %2")
                                                          .arg(table.mHotKey[0].fsModifiers)
                                                          .arg(table.mHotKey[0].nVirtualKey)}));
    EXPECT_EQ(store.writes.size(), c.saved ? 6 : 0);
    EXPECT_EQ(boxes.shown.size(), c.saved ? 0u : 1u);
    if (c.saved) {
      EXPECT_EQ(store.writes[3 * c.entry + 2],
                QStringLiteral("HotKey/mHotKey[%1].nSpeedData=0").arg(c.entry));
    }
  }
}

TEST(HotkeyTable, OutOfRangeEntryChangesNothing) {
  FakeStore store;
  HotkeyTable table;
  table.LoadHotKeys(store);
  FakeRegistrar registrar;
  FakeBoxes boxes;
  HotkeyEdit field;
  field.SetVirtualKey(0x41);
  for (const int entry : {-1, 2})
    table.OnFieldKillFocus(entry, field, registrar, boxes, nullptr, store);
  EXPECT_TRUE(registrar.calls.isEmpty());
  EXPECT_TRUE(store.writes.isEmpty());
  EXPECT_EQ(table.mHotKey[0].nVirtualKey, 82u);
  EXPECT_EQ(table.mHotKey[1].nVirtualKey, 83u);
}

TEST(HotkeyTable, IdsMapToRecordAndStop) {
  const std::vector<std::pair<int, HotkeyCommand>> cases = {
      {0xA100, HotkeyCommand::Record},
      {0xA101, HotkeyCommand::Stop},
      {0xA102, HotkeyCommand::None},
      {0, HotkeyCommand::None},
  };
  for (const auto& [id, command] : cases) EXPECT_EQ(CommandForHotKeyId(id), command) << id;
}

}  // namespace
}  // namespace tonvale::hotkeys
