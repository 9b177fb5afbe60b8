#include "platform/portal/hotkeys_portal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <map>
#include <span>

#include "platform/portal/dbus_receiver.h"

namespace tonvale::platform {

namespace portal_detail {

// One element of an a(sa{sv}) list of shortcuts.
struct ShortcutEntry {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& arg, const ShortcutEntry& entry) {
  arg.beginStructure();
  arg << entry.id << entry.properties;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, ShortcutEntry& entry) {
  arg.beginStructure();
  arg >> entry.id >> entry.properties;
  arg.endStructure();
  return arg;
}

}  // namespace portal_detail

namespace {
Q_LOGGING_CATEGORY(lcPortal, "tonvale.portal")

using portal_detail::ShortcutEntry;
using ShortcutList = QList<ShortcutEntry>;

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const char* const kReceive = SLOT(Receive(QDBusMessage));
// The response code of a request that got no answer in time (the portal's own are 0..2).
constexpr uint kNoAnswer = 100;

struct KeyName {
  unsigned vk;
  const char* name;
};

// Keysym names of the virtual keys outside the letter, digit and function key ranges.
constexpr KeyName kKeyNames[] = {
    {0x08, "BackSpace"},
    {0x09, "Tab"},
    {0x0D, "Return"},
    {0x13, "Pause"},
    {0x1B, "Escape"},
    {0x20, "space"},
    {0x21, "Page_Up"},
    {0x22, "Page_Down"},
    {0x23, "End"},
    {0x24, "Home"},
    {0x25, "Left"},
    {0x26, "Up"},
    {0x27, "Right"},
    {0x28, "Down"},
    {0x2C, "Print"},
    {0x2D, "Insert"},
    {0x2E, "Delete"},
    {0x5D, "Menu"},
    {0x6A, "KP_Multiply"},
    {0x6B, "KP_Add"},
    {0x6D, "KP_Subtract"},
    {0x6E, "KP_Decimal"},
    {0x6F, "KP_Divide"},
    {0xAD, "XF86AudioMute"},
    {0xAE, "XF86AudioLowerVolume"},
    {0xAF, "XF86AudioRaiseVolume"},
    {0xB0, "XF86AudioNext"},
    {0xB1, "XF86AudioPrev"},
    {0xB2, "XF86AudioStop"},
    {0xB3, "XF86AudioPlay"},
    {0xBA, "semicolon"},
    {0xBB, "equal"},
    {0xBC, "comma"},
    {0xBD, "minus"},
    {0xBE, "period"},
    {0xBF, "slash"},
    {0xC0, "grave"},
    {0xDB, "bracketleft"},
    {0xDC, "backslash"},
    {0xDD, "bracketright"},
    {0xDE, "apostrophe"},
};

// Other names the desktops write for the same keys in their trigger texts.
constexpr KeyName kKeyAliases[] = {
    {0x0D, "Enter"},  {0x1B, "Esc"}, {0x21, "Prior"}, {0x21, "PgUp"}, {0x22, "Next"},
    {0x22, "PgDown"}, {0x2D, "Ins"}, {0x2E, "Del"},   {0xBA, ";"},    {0xBB, "="},
    {0xBC, ","},      {0xBD, "-"},   {0xBE, "."},     {0xBF, "/"},    {0xC0, "`"},
    {0xDB, "["},      {0xDC, "\\"},  {0xDD, "]"},     {0xDE, "'"},
};

QString KeyNameFor(unsigned vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
    return QString(QChar(char16_t(vk)));
  if (vk >= 0x60 && vk <= 0x69)
    return QStringLiteral("KP_%1").arg(vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87)
    return QStringLiteral("F%1").arg(vk - 0x6F);
  for (const KeyName& key : kKeyNames) {
    if (key.vk == vk)
      return QString::fromLatin1(key.name);
  }
  return {};
}

unsigned VirtualKeyNamed(const QString& name) {
  if (name.size() == 1 && name[0].isLetterOrNumber() && name[0].unicode() < 0x80)
    return name[0].toUpper().unicode();
  static const QRegularExpression numbered(QStringLiteral("^(F|KP_)([0-9]{1,2})$"),
                                           QRegularExpression::CaseInsensitiveOption);
  if (const auto match = numbered.match(name); match.hasMatch()) {
    const unsigned n = match.captured(2).toUInt();
    if (match.captured(1).size() == 1)
      return n >= 1 && n <= 24 ? 0x6F + n : 0;
    return n <= 9 ? 0x60 + n : 0;
  }
  for (const std::span<const KeyName> table :
       {std::span<const KeyName>(kKeyNames), std::span<const KeyName>(kKeyAliases)}) {
    for (const KeyName& key : table) {
      if (name.compare(QLatin1String(key.name), Qt::CaseInsensitive) == 0)
        return key.vk;
    }
  }
  return 0;
}

unsigned ModifierNamed(const QString& name) {
  static const std::pair<const char*, unsigned> kNames[] = {
      {"ctrl", kModCtrl}, {"control", kModCtrl}, {"primary", kModCtrl}, {"alt", kModAlt},
      {"mod1", kModAlt},  {"shift", kModShift},  {"logo", kModWin},     {"super", kModWin},
      {"meta", kModWin},  {"win", kModWin},      {"mod4", kModWin},
  };
  for (const auto& [text, bit] : kNames) {
    if (name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0)
      return bit;
  }
  return 0;
}

QVariantMap ToMap(const QVariant& value) {
  return value.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(value.value<QDBusArgument>())
                                           : value.toMap();
}

ShortcutList ToShortcuts(const QVariant& value) {
  return value.canConvert<QDBusArgument>() ? qdbus_cast<ShortcutList>(value.value<QDBusArgument>())
                                           : ShortcutList();
}

QString PathText(const QVariant& value) {
  // A session handle comes as an object path or, from some portal versions, a string.
  return value.userType() == qMetaTypeId<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                            : value.toString();
}

}  // namespace

struct PortalHotkeyRegistrar::Impl {
  struct Registration {
    unsigned modifiers = 0;
    unsigned virtualKey = 0;
  };
  using ResponseFn = std::function<void(uint response, const QVariantMap& results)>;

  QDBusConnection bus = QDBusConnection::sessionBus();
  std::vector<Shortcut> shortcuts;
  int timeoutMs = 5000;
  std::map<int, Registration> registrations;
  std::function<void(int)> handler;
  std::function<void(int)> failureHandler;
  TriggerHandler triggerHandler;
  QObject context;  // parent of the requests, target of queued calls
  DBusReceiver listener;
  QString session;     // the handle of the bound session; empty while there is none
  unsigned round = 0;  // counts binds; answers to an earlier one are stale
  unsigned tokens = 0;
  bool bindQueued = false;

  Impl(std::vector<Shortcut> list, int timeout) : shortcuts(std::move(list)), timeoutMs(timeout) {
    qDBusRegisterMetaType<ShortcutEntry>();
    qDBusRegisterMetaType<ShortcutList>();
    listener.callback = [this](const QDBusMessage& m) { OnSignal(m); };
    for (const char* name : {"Activated", "ShortcutsChanged"})
      bus.connect(kService, kPath, kInterface, QLatin1String(name), &listener, kReceive);
  }

  ~Impl() { CloseSession(); }

  const Shortcut* Find(int id) const {
    const auto it = std::ranges::find(shortcuts, id, &Shortcut::id);
    return it == shortcuts.end() ? nullptr : &*it;
  }

  // The object path a request or session with this token gets: the portal builds it from
  // the caller's unique name.
  QString HandlePath(const char* kind, const QString& token) const {
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("%1/%2/%3/%4").arg(kPath, QLatin1String(kind), sender, token);
  }

  void Queue(std::function<void()> call) {
    QMetaObject::invokeMethod(&context, std::move(call), Qt::QueuedConnection);
  }

  // Calls a portal method that answers through a Request object's Response signal.
  void Request(const QString& method, QVariantList args, QVariantMap options, ResponseFn done) {
    const QString token = QStringLiteral("tonvale%1").arg(++tokens);
    options.insert(QStringLiteral("handle_token"), token);
    args << options;
    auto* request = new DBusReceiver(&context);
    request->path = HandlePath("request", token);
    auto finish = [this, request, done](uint response, const QVariantMap& results) {
      if (request->finished)
        return;
      request->finished = true;
      bus.disconnect(kService, request->path, kRequestInterface, QStringLiteral("Response"),
                     request, kReceive);
      request->deleteLater();
      done(response, results);
    };
    request->callback = [finish](const QDBusMessage& m) {
      finish(m.arguments().value(0).toUInt(), ToMap(m.arguments().value(1)));
    };
    // Subscribed before the call, so an answer that comes at once is not missed.
    bus.connect(kService, request->path, kRequestInterface, QStringLiteral("Response"), request,
                kReceive);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), request);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, request,
                     [this, request, method, finish](QDBusPendingCallWatcher* w) {
                       const QDBusPendingReply<QDBusObjectPath> reply = *w;
                       if (reply.isError()) {
                         qCWarning(lcPortal) << method << "failed:" << reply.error().name()
                                             << reply.error().message();
                         finish(2, {});
                       } else if (reply.value().path() != request->path) {
                         // A portal that does not follow the token: follow its path.
                         bus.disconnect(kService, request->path, kRequestInterface,
                                        QStringLiteral("Response"), request, kReceive);
                         request->path = reply.value().path();
                         bus.connect(kService, request->path, kRequestInterface,
                                     QStringLiteral("Response"), request, kReceive);
                       }
                     });
    QTimer::singleShot(timeoutMs, request, [finish] { finish(kNoAnswer, {}); });
  }

  void ScheduleBind() {
    if (bindQueued)
      return;
    bindQueued = true;
    Queue([this] { Bind(); });
  }

  void CloseSession(const QString& handle) {
    bus.call(QDBusMessage::createMethodCall(kService, handle,
                                            QStringLiteral("org.freedesktop.portal.Session"),
                                            QStringLiteral("Close")),
             QDBus::NoBlock);
  }

  void CloseSession() {
    if (!session.isEmpty())
      CloseSession(session);
    session.clear();
  }

  // Binds every registered id in a new session; the portal binds a session only once.
  void Bind() {
    bindQueued = false;
    CloseSession();
    const unsigned thisRound = ++round;
    ShortcutList list;
    std::vector<int> ids;
    for (const Shortcut& s : shortcuts) {
      const auto it = registrations.find(s.id);
      if (it == registrations.end())
        continue;
      QVariantMap properties{{QStringLiteral("description"), s.description}};
      const QString trigger = TriggerFor(it->second.modifiers, it->second.virtualKey);
      if (!trigger.isEmpty())
        properties.insert(QStringLiteral("preferred_trigger"), trigger);
      list.push_back({s.name, properties});
      ids.push_back(s.id);
    }
    if (ids.empty())
      return;
    const QString sessionToken = QStringLiteral("tonvale_session%1").arg(thisRound);
    Request(
        QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), sessionToken}},
        [this, thisRound, list, ids, sessionToken](uint response, const QVariantMap& results) {
          QString handle = PathText(results.value(QStringLiteral("session_handle")));
          if (handle.isEmpty())
            handle = HandlePath("session", sessionToken);
          if (thisRound != round) {
            if (response == 0)
              CloseSession(handle);
            return;
          }
          if (response != 0)
            return Refused(ids.front(), Answer("CreateSession", response));
          session = handle;
          Request(
              QStringLiteral("BindShortcuts"),
              {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(list), QString()},
              {}, [this, thisRound, ids](uint bound, const QVariantMap& shortcutResults) {
                if (thisRound != round)
                  return;
                if (bound != 0)
                  return Refused(ids.front(), Answer("BindShortcuts", bound));
                Report(ToShortcuts(shortcutResults.value(QStringLiteral("shortcuts"))), ids);
              });
        });
  }

  static QString Answer(const char* step, uint response) {
    return response == kNoAnswer
               ? QStringLiteral("%1 got no answer").arg(QLatin1String(step))
               : QStringLiteral("%1 answered %2").arg(QLatin1String(step)).arg(response);
  }

  void Refused(int id, const QString& why) {
    qCWarning(lcPortal).noquote() << why << "for" << Find(id)->name;
    Queue([this, id] {
      if (failureHandler)
        failureHandler(id);
    });
  }

  // The triggers the desktop reports: after a bind, every id of `bound` must have one.
  void Report(const ShortcutList& reported, const std::vector<int>& bound) {
    for (const Shortcut& s : shortcuts) {
      const auto reg = registrations.find(s.id);
      if (reg == registrations.end())
        continue;
      const bool mustHave = std::ranges::find(bound, s.id) != bound.end();
      const auto entry = std::ranges::find(reported, s.name, &ShortcutEntry::id);
      const QString text =
          entry == reported.end()
              ? QString()
              : entry->properties.value(QStringLiteral("trigger_description")).toString().trimmed();
      if (mustHave && (entry == reported.end() || (text.isEmpty() && reg->second.virtualKey)))
        return Refused(s.id, QStringLiteral("BindShortcuts left no trigger"));
      if (entry == reported.end())
        continue;
      qCInfo(lcPortal).noquote() << s.name << "is on"
                                 << (text.isEmpty() ? QStringLiteral("nothing") : text);
      unsigned modifiers = 0;
      unsigned virtualKey = 0;
      const bool named = ParseTrigger(text, &modifiers, &virtualKey);
      if (named && modifiers == reg->second.modifiers && virtualKey == reg->second.virtualKey)
        continue;
      if (named || text.isEmpty())
        reg->second = {modifiers, virtualKey};
      Queue([this, id = s.id, modifiers, virtualKey, text] {
        if (triggerHandler)
          triggerHandler(id, modifiers, virtualKey, text);
      });
    }
  }

  void OnSignal(const QDBusMessage& m) {
    const QVariantList args = m.arguments();
    if (session.isEmpty() || PathText(args.value(0)) != session)
      return;  // another program's session: the portal sends the signals to every client
    if (m.member() == QLatin1String("ShortcutsChanged")) {
      Report(ToShortcuts(args.value(1)), {});
      return;
    }
    const QString name = args.value(1).toString();
    for (const Shortcut& s : shortcuts) {
      if (s.name == name && registrations.contains(s.id) && handler) {
        handler(s.id);
        return;
      }
    }
  }
};

unsigned PortalHotkeyRegistrar::AvailableVersion(int timeoutMs) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    qCInfo(lcPortal) << "no session bus";
    return 0;
  }
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kInterface << QStringLiteral("version");
  const QDBusMessage reply = bus.call(get, QDBus::Block, timeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    qCInfo(lcPortal).noquote() << "no GlobalShortcuts portal:" << reply.errorName();
    return 0;
  }
  return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
}

PortalHotkeyRegistrar::PortalHotkeyRegistrar(std::vector<Shortcut> shortcuts, int answerTimeoutMs)
    : d_(std::make_unique<Impl>(std::move(shortcuts), answerTimeoutMs)) {}

PortalHotkeyRegistrar::~PortalHotkeyRegistrar() = default;

void PortalHotkeyRegistrar::SetHandler(std::function<void(int id)> handler) {
  d_->handler = std::move(handler);
}

void PortalHotkeyRegistrar::SetFailureHandler(std::function<void(int id)> handler) {
  d_->failureHandler = std::move(handler);
}

void PortalHotkeyRegistrar::SetTriggerHandler(TriggerHandler handler) {
  d_->triggerHandler = std::move(handler);
}

bool PortalHotkeyRegistrar::RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) {
  if (!d_->Find(id))
    return false;
  if (virtualKey != 0 && TriggerFor(modifiers, virtualKey).isEmpty()) {
    qCInfo(lcPortal) << "virtual key" << virtualKey << "has no name at the portal";
    return false;
  }
  for (const auto& [other, reg] : d_->registrations) {
    if (other != id && virtualKey != 0 && reg.modifiers == modifiers &&
        reg.virtualKey == virtualKey)
      return false;
  }
  d_->registrations[id] = {modifiers, virtualKey};
  d_->ScheduleBind();
  return true;
}

void PortalHotkeyRegistrar::UnregisterHotKey(int id) {
  if (d_->registrations.erase(id))
    d_->ScheduleBind();
}

QString PortalHotkeyRegistrar::TriggerFor(unsigned modifiers, unsigned virtualKey) {
  const QString key = KeyNameFor(virtualKey);
  if (key.isEmpty())
    return {};
  QStringList parts;
  if (modifiers & kModCtrl)
    parts << QStringLiteral("CTRL");
  if (modifiers & kModAlt)
    parts << QStringLiteral("ALT");
  if (modifiers & kModShift)
    parts << QStringLiteral("SHIFT");
  if (modifiers & kModWin)
    parts << QStringLiteral("LOGO");
  parts << key;
  return parts.join(QLatin1Char('+'));
}

bool PortalHotkeyRegistrar::ParseTrigger(const QString& text, unsigned* modifiers,
                                         unsigned* virtualKey) {
  // "<Control><Alt>r" is read as "Control+Alt+r"; words before the first modifier
  // ("Press") are not part of the combination.
  QString spelled = text;
  spelled.replace(QRegularExpression(QStringLiteral("<([^<>]+)>")), QStringLiteral("\\1+"));
  QStringList parts = spelled.split(QRegularExpression(QStringLiteral("\\s*\\+\\s*")));
  if (parts.isEmpty() || parts.last().isEmpty())
    return false;
  const QStringList words = parts.first().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (words.isEmpty())
    return false;
  parts.first() = words.last();
  unsigned mods = 0;
  for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
    const unsigned bit = ModifierNamed(parts[i]);
    if (bit == 0)
      return false;
    mods |= bit;
  }
  const unsigned vk = VirtualKeyNamed(parts.last());
  if (vk == 0)
    return false;
  *modifiers = mods;
  *virtualKey = vk;
  return true;
}

}  // namespace tonvale::platform
