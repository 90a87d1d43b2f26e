#include "app/ui/HandOverServer.h"

#include <QLocalSocket>
#include <QPointer>
#include <memory>

#include "app/HandOver.h"

HandOverServer::HandOverServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &HandOverServer::OnConnection);
}

HandOverServer::~HandOverServer() { server_.close(); }

bool HandOverServer::Listen(const QString& pathIn) {
  QString path = pathIn;
  if (path.isEmpty()) {
    if (!handover::MakeSocketFolder()) return false;
    path = QString::fromStdString(handover::SocketPath());
  }
  if (server_.listen(path)) return true;
  // Someone listening already keeps the socket; a dead one is replaced.
  QLocalSocket probe;
  probe.connectToServer(path);
  if (probe.waitForConnected(300)) return false;
  QLocalServer::removeServer(path);
  return server_.listen(path);
}

void HandOverServer::OnConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    if (!handover::PeerIsSameUser(int(socket->socketDescriptor()))) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto buffer = std::make_shared<std::string>();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QPointer<QLocalSocket> guard(socket);
    connect(socket, &QLocalSocket::readyRead, this, [this, guard, buffer] {
      if (!guard) return;
      QLocalSocket* socket = guard;
      QByteArray bytes = socket->readAll();
      buffer->append(bytes.constData(), size_t(bytes.size()));
      for (;;) {
        uint32_t command = 0;
        std::string path;
        int got = handover::Decode(buffer.get(), &command, &path);
        if (got == 0) return;
        if (got < 0) {
          socket->abort();
          return;
        }
        bool known = (command >= handover::kFirstCommand && command <= handover::kLastCommand) ||
                     command == handover::kCloseCommand;
        bool taken = known && handler_(int(command), QString::fromStdString(path));
        // The handler may have run a modal window; the socket may be gone.
        if (!guard || guard->state() != QLocalSocket::ConnectedState) return;
        char reply = taken ? 1 : 0;
        socket->write(&reply, 1);
        socket->flush();
      }
    });
  }
}
