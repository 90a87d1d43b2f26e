#include "app/ui/PowerControl.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace {

const char* kService = "org.freedesktop.login1";
const char* kPath = "/org/freedesktop/login1";
const char* kManager = "org.freedesktop.login1.Manager";

bool Call(const QString& method, const QList<QVariant>& args, QString* error) {
  QDBusInterface manager(kService, kPath, kManager, QDBusConnection::systemBus());
  if (!manager.isValid()) {
    if (error) *error = manager.lastError().message();
    return false;
  }
  QDBusMessage reply = manager.callWithArgumentList(QDBus::Block, method, args);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    if (error) *error = reply.errorMessage();
    return false;
  }
  return true;
}

QString Can(const QString& method) {
  QDBusInterface manager(kService, kPath, kManager, QDBusConnection::systemBus());
  QDBusReply<QString> reply = manager.call(method);
  return reply.isValid() ? reply.value() : QString();
}

std::shared_ptr<PowerControl>& Current() {
  static std::shared_ptr<PowerControl> control = std::make_shared<LogindPowerControl>();
  return control;
}

}  // namespace

bool LogindPowerControl::LogOff(QString* error) {
  QByteArray session = qgetenv("XDG_SESSION_ID");
  if (session.isEmpty()) session = "auto";  // logind's name for the caller's own session
  return Call("TerminateSession", {QString::fromUtf8(session)}, error);
}

bool LogindPowerControl::Hibernate(QString* error) {
  if (Can("CanHibernate") == "yes") return Call("Hibernate", {false}, error);
  return Call("Suspend", {false}, error);
}

bool LogindPowerControl::PowerOff(QString* error) { return Call("PowerOff", {false}, error); }

PowerControl* Power() { return Current().get(); }
void SetPowerControl(std::shared_ptr<PowerControl> control) {
  Current() = control ? std::move(control) : std::make_shared<LogindPowerControl>();
}
