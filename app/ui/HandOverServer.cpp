#include "app/ui/HandOverServer.h"

#include <vector>

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

// Handles every whole message in `buffer`: paths of one command in a row go
// to the window together. False when nothing was taken (no whole message, or
// the connection is gone or was broken off).
bool HandOverServer::TakeMessages(QLocalSocket* socket, std::string* buffer) {
  QPointer<QLocalSocket> guard(socket);
  std::vector<std::pair<uint32_t, QStringList>> runs;
  bool broken = false;
  for (;;) {
    uint32_t command = 0;
    std::string path;
    int got = handover::Decode(buffer, &command, &path);
    if (got == 0) break;
    if (got < 0) {
      broken = true;
      break;
    }
    if (runs.empty() || runs.back().first != command || command == handover::kCloseCommand || !batch_)
      runs.push_back({command, {}});
    runs.back().second.push_back(QString::fromStdString(path));
  }
  for (const auto& [command, paths] : runs) {
    const bool known = (command >= handover::kFirstCommand && command <= handover::kLastCommand) ||
                       command == handover::kCloseCommand;
    bool taken = false;
    if (known)
      taken = batch_ && command != handover::kCloseCommand ? batch_(int(command), paths)
                                                            : handler_(int(command), paths.front());
    // The handler may have run a modal window; the socket may be gone.
    if (!guard || guard->state() != QLocalSocket::ConnectedState) return false;
    const QByteArray replies(int(paths.size()), taken ? char(1) : char(0));
    socket->write(replies);
    socket->flush();
  }
  if (broken) {
    socket->abort();
    return false;
  }
  return !runs.empty();
}

void HandOverServer::OnConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    if (!handover::PeerIsSameUser(int(socket->socketDescriptor()))) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto buffer = std::make_shared<std::string>();
    auto busy = std::make_shared<bool>(false);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QPointer<QLocalSocket> guard(socket);
    auto serve = [this, guard, buffer, busy] {
      if (!guard) return;
      // Held here: the connection may go while a handler runs.
      std::shared_ptr<std::string> pending = buffer;
      std::shared_ptr<bool> running = busy;
      // An addition may wait in an event loop of its own, where more paths
      // arrive: the running call takes them after its own, in order. Qt does
      // not announce bytes that arrive on a socket while its readyRead is
      // being served, so the socket is read again after every pass instead
      // of waiting for a signal that would never come (the sender waits for
      // its replies meanwhile).
      auto readMore = [&] {
        const QByteArray bytes = guard->readAll();
        pending->append(bytes.constData(), size_t(bytes.size()));
      };
      readMore();
      if (*running) return;
      *running = true;
      for (;;) {
        const bool took = TakeMessages(guard, pending.get());
        if (!guard) break;
        if (!took && guard->bytesAvailable() == 0) break;
        readMore();
      }
      *running = false;
    };
    connect(socket, &QLocalSocket::readyRead, this, serve);
    // Bytes that came with the connection may be read in already, and would
    // be announced by no signal of their own.
    if (socket->bytesAvailable() > 0) serve();
  }
}
