#pragma once

#include <QString>
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
  std::vector<QString> writes;        // keys in write order
  int GetProfileInt(const QString& s, const QString& k, int d) override {
    auto it = values.find(s + u'/' + k);
    bool ok = false;
    int v = it == values.end() ? 0 : it->second.toInt(&ok);
    return ok ? v : d;
  }
  void WriteProfileInt(const QString& s, const QString& k, int v) override {
    values[s + u'/' + k] = QString::number(v);
    writes.push_back(s + u'/' + k);
  }
  QString GetProfileString(const QString& s, const QString& k, const QString& d) override {
    auto it = values.find(s + u'/' + k);
    return it == values.end() ? d : it->second;
  }
  void WriteProfileString(const QString& s, const QString& k, const QString& v) override {
    values[s + u'/' + k] = v;
    writes.push_back(s + u'/' + k);
  }
};

struct FakeHandOff : platform::SinkHandOff {
  std::vector<QString> paths;
  bool WriteOutputPath(const QString& path) override {
    paths.push_back(path);
    return true;
  }
};

struct FakeDesktop : platform::Desktop {
  std::vector<QString> opened;
  bool OpenFile(const QString& path) override {
    opened.push_back(path);
    return true;
  }
  bool OpenUrl(const QString& url) override {
    opened.push_back(url);
    return true;
  }
};

struct FakeHotkeyRegistrar : platform::HotkeyRegistrar {
  std::function<void(int)> handler;
  std::map<int, std::pair<unsigned, unsigned>> registered;
  std::vector<std::pair<unsigned, unsigned>> refuse;  // combinations "held by another program"
  std::vector<int> attempts;
  std::vector<QString> calls;  // "register a100 3 82", "unregister a100", in call order
  void SetHandler(std::function<void(int)> h) override { handler = std::move(h); }
  bool RegisterHotKey(int id, unsigned mods, unsigned vk) override {
    attempts.push_back(id);
    calls.push_back(QStringLiteral("register %1 %2 %3").arg(id, 0, 16).arg(mods).arg(vk));
    for (auto& r : refuse)
      if (r == std::make_pair(mods, vk))
        return false;
    for (auto& [other, combo] : registered)
      if (other != id && combo == std::make_pair(mods, vk))
        return false;
    registered[id] = {mods, vk};
    return true;
  }
  void UnregisterHotKey(int id) override {
    calls.push_back(QStringLiteral("unregister %1").arg(id, 0, 16));
    registered.erase(id);
  }
};

}  // namespace tonvale::testing
