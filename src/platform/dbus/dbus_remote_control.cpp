#include "platform/dbus/dbus_remote_control.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLoggingCategory>
#include <QVariantMap>
#include <memory>

#include "platform/dbus/dbus_remote_object.h"
#include "platform/dbus/dbus_support.h"

namespace tonvale::platform {

Q_LOGGING_CATEGORY(lcDBus, "tonvale.dbus")

namespace {

const QString kServiceName = QStringLiteral("com.velmora.Tonvale");
const QString kObjectPath = QStringLiteral("/com/velmora/Tonvale");
const QString kInterface = QStringLiteral("com.velmora.Tonvale");
const QString kNotDoneError = QStringLiteral("com.velmora.Tonvale.Error.NotDone");
const QString kClientConnection = QStringLiteral("tonvale-remote-client");

QDBusConnection ClientBus() {
  return QDBusConnection(kClientConnection);
}

}  // namespace

void DBusRemoteObject::Run(RemoteControl::Command command, const QDBusMessage& message) {
  // The handler may answer while a box it opened waits for the user, long before it
  // returns; the answer goes once.
  message.setDelayedReply(true);
  auto answered = std::make_shared<bool>(false);
  const RemoteControl::Reply reply = [bus = bus_, message, answered](const QString& error) {
    if (*answered) {
      return;
    }
    *answered = true;
    bus.send(error.isEmpty() ? message.createReply()
                             : message.createErrorReply(kNotDoneError, error));
  };
  handler_(command, reply);
  reply(QStringLiteral("Tonvale did not carry out the command."));
}

DBusRemoteControl::DBusRemoteControl() = default;

DBusRemoteControl::~DBusRemoteControl() {
  if (object_) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(kServiceName);
    bus.unregisterObject(kObjectPath);
  }
}

bool DBusRemoteControl::Offer(CommandHandler handler, StateSource state) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    qCDebug(lcDBus) << "no session bus: no remote control";
    return false;
  }
  auto object = std::make_unique<DBusRemoteObject>(bus, std::move(handler), std::move(state));
  // The object is in place before the name, so no call finds the name without it.
  if (!bus.registerObject(
          kObjectPath, object.get(),
          QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableProperties)) {
    qCDebug(lcDBus) << "could not register the remote control's object";
    return false;
  }
  const auto owned =
      bus.interface()->registerService(kServiceName, QDBusConnectionInterface::DontQueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
    qCDebug(lcDBus) << "another copy offers the remote control";
    bus.unregisterObject(kObjectPath);
    return false;
  }
  object_ = std::move(object);
  qCDebug(lcDBus) << "remote control offered";
  return true;
}

DBusRemoteClient::DBusRemoteClient() {
  QDBusConnection::connectToBus(QDBusConnection::SessionBus, kClientConnection);
}

DBusRemoteClient::~DBusRemoteClient() {
  QDBusConnection::disconnectFromBus(kClientConnection);
}

bool DBusRemoteClient::Reachable() const {
  const QDBusConnection bus = ClientBus();
  return bus.isConnected() && bus.interface()->isServiceRegistered(kServiceName).value();
}

QString DBusRemoteClient::Send(RemoteControl::Command command) const {
  const QString method =
      command == RemoteControl::Command::Record ? QStringLiteral("Record") : QStringLiteral("Stop");
  const QDBusMessage reply = ClientBus().call(
      QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterface, method));
  if (reply.type() == QDBusMessage::ReplyMessage) {
    return {};
  }
  return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

std::optional<RemoteState> DBusRemoteClient::State(QString* error) const {
  QDBusMessage call = QDBusMessage::createMethodCall(
      kServiceName, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("GetAll"));
  call << kInterface;
  const QDBusMessage reply = ClientBus().call(call);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return std::nullopt;
  }
  const auto values = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
  RemoteState state;
  const QString mode = values.value(QStringLiteral("State")).toString();
  for (auto candidate : {RemoteState::Mode::Recording, RemoteState::Mode::Paused}) {
    if (mode == RemoteModeName(candidate)) {
      state.mode = candidate;
    }
  }
  state.usedSeconds = values.value(QStringLiteral("UsedSeconds")).toInt();
  state.outputFile = values.value(QStringLiteral("OutputFile")).toString();
  return state;
}

}  // namespace tonvale::platform
