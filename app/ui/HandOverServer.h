#pragma once
// Listens on the per-user hand-over socket and passes every path it receives
// to the main window, answering each message with whether it was taken.

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QStringList>
#include <functional>
#include <string>

class HandOverServer : public QObject {
  Q_OBJECT
 public:
  // Takes (command, path) and says whether the path was added.
  using Handler = std::function<bool(int, const QString&)>;
  // Takes (command, paths) that arrived together and says whether they were
  // added; a sender that does not wait for each reply gets its paths added
  // in batches, not one by one.
  using BatchHandler = std::function<bool(int, const QStringList&)>;

  explicit HandOverServer(Handler handler, QObject* parent = nullptr);
  ~HandOverServer() override;
  // Listens on `path` (the per-user socket when empty). A socket left behind
  // by a program that ended is replaced; one that answers is left alone.
  bool Listen(const QString& path = QString());
  void SetBatchHandler(BatchHandler batch) { batch_ = std::move(batch); }
  QString ServerPath() const { return server_.fullServerName(); }
  // Stops listening: from now on the program counts as gone for the updater.
  void Stop() { server_.close(); }

 private:
  void OnConnection();
  bool TakeMessages(QLocalSocket* socket, std::string* buffer);
  Handler handler_;
  BatchHandler batch_;
  QLocalServer server_;
};
