#pragma once
#include <QObject>

class QSocketNotifier;

namespace cli {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the main thread's event loop: the
// handler only writes a byte to a pipe, which a socket notifier reads. One watcher per process;
// the previous handlers come back when it is destroyed.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    SignalWatcher();
    ~SignalWatcher() override;

    // Installs the handlers; false when the pipe or a handler cannot be made.
    bool Install();

signals:
    // Once per signal received, with its number.
    void Received(int signalNumber);

private:
    void OnReadable();

    int m_fds[2] = {-1, -1};
    QSocketNotifier* m_pNotifier = nullptr;
    bool m_bInstalled = false;
};

} // namespace cli
