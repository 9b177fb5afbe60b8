#include "hotkeys/hotkey_table.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "fake_services.h"
#include "hotkeys/hotkey_edit.h"

namespace tonvale::hotkeys {
namespace {

using namespace Qt::Literals::StringLiterals;

// A field losing the focus hands its combination to its entry; both hotkeys are registered
// afresh in order up to the first failure, and the table is stored only when both succeed.
TEST(HotkeyTable, FieldLosingFocusReregistersInOrderAndSavesOnlyOnSuccess) {
  struct Case {
    int entry;
    unsigned modifiers, vk;
    bool heldElsewhere;  // by another program
    const char* registers;
    const char* failed;  // the entry the box names
  };
  // clang-format off
  const Case cases[] = {
      {0, 3, 82,  false, "register a100 3 82|register a101 2 83",  nullptr},  // unchanged
      {1, 6, 116, false, "register a100 3 82|register a101 6 116", nullptr},
      {0, 2, 65,  true,  "register a100 2 65",                     "Start Record"},
      {1, 6, 116, true,  "register a100 3 82|register a101 6 116", "Stop Record"},
      {1, 3, 82,  false, "register a100 3 82|register a101 3 82",  "Stop Record"},  // = start
      {2, 1, 65,  false, "",                                       nullptr},  // no such entry
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "entry " << c.entry << ": " << c.registers);
    // Each value missing here falls back to its own default; another section does not count.
    testing::FakeProfileStore store;
    store.values = {{u"HotKey/mHotKey[0].nSpeedData"_s, u"7"_s},
                    {u"HotKey/mHotKey[1].fsModifiers"_s, u"2"_s},
                    {u"HotKey/mHotKey[1].nSpeedData"_s, u"8"_s},
                    {u"Option/mHotKey[1].nVirtualKey"_s, u"1"_s}};
    HotkeyTable table;
    table.LoadHotKeys(store);
    QWidget owner;
    testing::FakeHotkeyRegistrar registrar;
    if (c.heldElsewhere)
      registrar.refuse = {{c.modifiers, c.vk}};
    testing::FakeMessageBoxes boxes;
    HotkeyEdit field;
    field.SetModifiers(c.modifiers);
    field.SetVirtualKey(c.vk);
    table.OnFieldKillFocus(c.entry, field, registrar, boxes, &owner, store);

    const bool valid = c.entry < HotkeyTable::kEntries;
    QStringList calls = QString::fromLatin1(c.registers).split(u'|', Qt::SkipEmptyParts);
    if (valid)
      calls = QStringList{u"unregister a100"_s, u"unregister a101"_s} + calls;
    EXPECT_EQ(QStringList(registrar.calls.begin(), registrar.calls.end()), calls);
    ASSERT_EQ(boxes.shown.size(), c.failed ? 1u : 0u);
    if (c.failed) {
      const testing::ShownBox& box = boxes.shown[0];
      EXPECT_EQ(box.text, QLatin1String(c.failed) +
                              u" hot key failed!. It may conflict with "
                              "another hotkey. Try a new hotkey"_s);
      EXPECT_EQ(box.caption, u"Error"_s);
      EXPECT_EQ(box.icon, platform::MessageBoxes::Icon::None);
      EXPECT_TRUE(box.owned);
      // An entry registered before the failure stays registered.
      EXPECT_EQ(registrar.registered.count(0xA100), calls.size() > 3 ? 1u : 0u);
    }
    // Stored: the table as it is now, with the changed entry's speed data reset.
    std::vector<QString> expected, written;
    for (int i = 0; valid && !c.failed && i < HotkeyTable::kEntries; ++i) {
      for (const auto& [key, value] : {std::pair{"fsModifiers", table.mHotKey[i].fsModifiers},
                                       {"nVirtualKey", table.mHotKey[i].nVirtualKey},
                                       {"nSpeedData", i == c.entry ? 0u : 7u + i}})
        expected.push_back(u"HotKey/mHotKey[%1].%2=%3"_s.arg(i).arg(QLatin1String(key)).arg(value));
    }
    for (const QString& key : store.writes) written.push_back(key + u'=' + store.values[key]);
    EXPECT_EQ(written, expected);
  }
}

}  // namespace
}  // namespace tonvale::hotkeys
