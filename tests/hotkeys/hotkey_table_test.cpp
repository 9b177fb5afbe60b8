#include "hotkeys/hotkey_table.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>
#include <QWidget>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "hotkeys/hotkey_edit.h"

namespace tonvale::hotkeys {
namespace {

using namespace Qt::Literals::StringLiterals;
using Combo = std::pair<unsigned, unsigned>;

// Refuses a combination another id holds, or one another program holds (refused).
class FakeRegistrar : public platform::HotkeyRegistrar {
 public:
  void SetHandler(std::function<void(int)>) override {}
  bool RegisterHotKey(int id, unsigned modifiers, unsigned vk) override {
    calls.push_back(u"register %1 %2 %3"_s.arg(id, 0, 16).arg(modifiers).arg(vk));
    if (refused.count({modifiers, vk}))
      return false;
    for (const auto& [otherId, held] : registered) {
      if (otherId != id && held == Combo{modifiers, vk})
        return false;
    }
    registered[id] = {modifiers, vk};
    return true;
  }
  void UnregisterHotKey(int id) override {
    calls.push_back(u"unregister %1"_s.arg(id, 0, 16));
    registered.erase(id);
  }
  QStringList calls;
  std::set<Combo> refused;
  std::map<int, Combo> registered;
};

class FakeBoxes : public platform::MessageBoxes {
 public:
  void Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
    EXPECT_EQ(caption, u"Error"_s);
    EXPECT_EQ(icon, Icon::None);
    owners.push_back(owner);
    texts.push_back(text);
  }
  void Beep() override {}
  std::vector<QWidget*> owners;
  QStringList texts;
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

QString Failure(const char* name) {
  return QString::fromLatin1(name) +
         u" hot key failed!. It may conflict with another hotkey. Try a new hotkey"_s;
}

TEST(HotkeyTable, LoadsDefaultsAndEachMissingValueFallsBackOnItsOwn) {
  struct Case {
    QMap<QString, int> stored;
    std::vector<int> expected;  // per entry: modifiers, key, speed data
  };
  const std::vector<Case> cases = {
      {{}, {3, 82, 0, 3, 83, 0}},
      {{{u"HotKey/mHotKey[0].fsModifiers"_s, 6},
        {u"HotKey/mHotKey[1].nVirtualKey"_s, 0x74},
        {u"HotKey/mHotKey[1].nSpeedData"_s, 9},
        {u"Option/mHotKey[0].nVirtualKey"_s, 1}},  // another section
       {6, 82, 0, 3, 0x74, 9}},
  };
  for (const Case& c : cases) {
    FakeStore store;
    store.ints = c.stored;
    HotkeyTable table;
    EXPECT_EQ(table.LoadHotKeys(store), 1);
    std::vector<int> loaded;
    for (const HotKeyEntry& e : table.mHotKey) {
      loaded.insert(loaded.end(), {static_cast<int>(e.fsModifiers), static_cast<int>(e.nVirtualKey),
                                   e.nSpeedData});
    }
    EXPECT_EQ(loaded, c.expected);
    EXPECT_EQ(table.mHotKey[0].szName, u"Start Record"_s);
    EXPECT_EQ(table.mHotKey[1].szName, u"Stop Record"_s);
    EXPECT_EQ(table.mHotKey[0].nHotKeyId, 0xA100);
    EXPECT_EQ(table.mHotKey[1].nHotKeyId, 0xA101);
  }
}

TEST(HotkeyTable, FirstFailureStopsRegistrationAndNamesTheEntry) {
  QWidget owner;
  struct Case {
    const char* name;
    Combo stop;
    std::set<Combo> refused;
    int attempts;
    QString message;  // empty: success, no box
  };
  const std::vector<Case> cases = {
      {"both free", {3, 83}, {}, 2, {}},
      {"start held elsewhere", {3, 83}, {{3, 82}}, 1, Failure("Start Record")},
      {"stop held elsewhere", {3, 83}, {{3, 83}}, 2, Failure("Stop Record")},
      {"both entries the same", {3, 82}, {}, 2, Failure("Stop Record")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStore store;
    HotkeyTable table;
    table.LoadHotKeys(store);
    std::tie(table.mHotKey[1].fsModifiers, table.mHotKey[1].nVirtualKey) = c.stop;
    FakeRegistrar registrar;
    registrar.refused = c.refused;
    FakeBoxes boxes;
    EXPECT_EQ(table.RegisterHotKeys(registrar, boxes, &owner), c.message.isEmpty() ? 1 : 0);
    EXPECT_EQ(registrar.calls.size(), c.attempts);
    EXPECT_EQ(boxes.texts, c.message.isEmpty() ? QStringList{} : QStringList{c.message});
    if (!c.message.isEmpty()) {
      EXPECT_EQ(boxes.owners.at(0), &owner);
    }
    // An entry registered before the failure stays registered.
    EXPECT_EQ(registrar.registered.count(0xA100), c.refused.count({3, 82}) ? 0u : 1u);
  }
}

TEST(HotkeyTable, FieldLosingFocusReregistersBothAndSavesOnlyOnSuccess) {
  QWidget owner;
  struct Case {
    const char* name;
    int entry;
    Combo field;
    std::set<Combo> refused;
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
    store.ints[u"HotKey/mHotKey[0].nSpeedData"_s] = 7;
    store.ints[u"HotKey/mHotKey[1].nSpeedData"_s] = 8;
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

    // The failing entry keeps its new combination all the same.
    const HotKeyEntry& e = table.mHotKey[c.entry];
    EXPECT_EQ(Combo(e.fsModifiers, e.nVirtualKey), c.field);
    EXPECT_EQ(registrar.calls.mid(0, 3),
              (QStringList{u"unregister a100"_s, u"unregister a101"_s,
                           u"register a100 %1 %2"_s.arg(table.mHotKey[0].fsModifiers)
                               .arg(table.mHotKey[0].nVirtualKey)}));
    EXPECT_EQ(boxes.texts.size(), c.saved ? 0 : 1);
    if (!c.saved) {
      EXPECT_TRUE(store.writes.isEmpty());
      continue;
    }
    const auto& s = table.mHotKey;
    EXPECT_EQ(store.writes, (QStringList{
                                u"HotKey/mHotKey[0].fsModifiers=%1"_s.arg(s[0].fsModifiers),
                                u"HotKey/mHotKey[0].nVirtualKey=%1"_s.arg(s[0].nVirtualKey),
                                u"HotKey/mHotKey[0].nSpeedData=%1"_s.arg(c.entry == 0 ? 0 : 7),
                                u"HotKey/mHotKey[1].fsModifiers=%1"_s.arg(s[1].fsModifiers),
                                u"HotKey/mHotKey[1].nVirtualKey=%1"_s.arg(s[1].nVirtualKey),
                                u"HotKey/mHotKey[1].nSpeedData=%1"_s.arg(c.entry == 1 ? 0 : 8),
                            }));
  }
}

}  // namespace
}  // namespace tonvale::hotkeys
