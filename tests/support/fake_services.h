#pragma once

#include <QStringList>
#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "platform/services.h"
#include "qt_printers.h"

namespace tonvale::testing {

struct ShownBox {
  QString text;
  QString caption;
  platform::MessageBoxes::Icon icon;
  bool owned;
};

struct FakeMessageBoxes : platform::MessageBoxes {
  std::vector<ShownBox> shown;
  int beeps = 0;
  std::function<void()> onShow;  // runs while the "modal" box is open
  void Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
    shown.push_back({text, caption, icon, owner != nullptr});
    if (onShow)
      onShow();
  }
  void Beep() override { ++beeps; }
};

struct FakeProfileStore : platform::ProfileStore {
  std::map<QString, QString> values;  // "Section/key" -> text
  QStringList writes;                 // keys in write order
  int GetProfileInt(const QString& s, const QString& k, int d) override {
    bool ok = false;
    const int v = GetProfileString(s, k, {}).toInt(&ok);
    return ok ? v : d;
  }
  void WriteProfileInt(const QString& s, const QString& k, int v) override {
    WriteProfileString(s, k, QString::number(v));
  }
  QString GetProfileString(const QString& s, const QString& k, const QString& d) override {
    return values.contains(s + u'/' + k) ? values[s + u'/' + k] : d;
  }
  void WriteProfileString(const QString& s, const QString& k, const QString& v) override {
    values[writes.emplace_back(s + u'/' + k)] = v;
  }
};

struct FakeHandOff : platform::SinkHandOff {
  std::vector<QString> paths;
  bool WriteOutputPath(const QString& path) override { return paths.push_back(path), true; }
};

struct FakeDesktop : platform::Desktop {
  QStringList opened;  // files and addresses
  bool OpenFile(const QString& path) override { return opened.push_back(path), true; }
  bool OpenUrl(const QString& url) override { return opened.push_back(url), true; }
};

struct FakeHotkeyRegistrar : platform::HotkeyRegistrar {
  std::map<int, std::pair<unsigned, unsigned>> registered;
  std::vector<std::pair<unsigned, unsigned>> refuse;  // combinations "held by another program"
  QStringList calls;                 // "ra100 3 82" (register), "ua100" (unregister), in call order
  std::function<void(int)> handler;  // a press of the hotkey with this id
  void SetHandler(std::function<void(int)> h) override { handler = std::move(h); }
  bool RegisterHotKey(int id, unsigned mods, unsigned vk) override {
    calls.push_back(QStringLiteral("r%1 %2 %3").arg(id, 0, 16).arg(mods).arg(vk));
    const std::pair combo{mods, vk};
    const auto held = [&](const auto& r) { return r.first != id && r.second == combo; };
    if (std::ranges::count(refuse, combo) > 0 || std::ranges::any_of(registered, held))
      return false;
    registered[id] = combo;
    return true;
  }
  void UnregisterHotKey(int id) override {
    calls.push_back(QStringLiteral("u%1").arg(id, 0, 16));
    registered.erase(id);
  }
};

}  // namespace tonvale::testing
