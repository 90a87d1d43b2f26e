#pragma once
// Listens on the per-user hand-over socket and passes every path it receives
// to the main window, answering each message with whether it was taken.

#include <QLocalServer>
#include <QObject>
#include <functional>

class HandOverServer : public QObject {
  Q_OBJECT
 public:
  // Takes (command, path) and says whether the path was added.
  using Handler = std::function<bool(int, const QString&)>;

  explicit HandOverServer(Handler handler, QObject* parent = nullptr);
  ~HandOverServer() override;
  // Listens on `path` (the per-user socket when empty). A socket left behind
  // by a program that ended is replaced; one that answers is left alone.
  bool Listen(const QString& path = QString());
  QString ServerPath() const { return server_.fullServerName(); }
  // Stops listening: from now on the program counts as gone for the updater.
  void Stop() { server_.close(); }

 private:
  void OnConnection();
  Handler handler_;
  QLocalServer server_;
};
