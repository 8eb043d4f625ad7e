#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace tf {

// Turns POSIX signals (SIGTERM, SIGINT, SIGHUP, ...) into a Qt signal on the
// window thread. The handler does nothing but write() the signal number into
// a socket pair; a notifier on the other end reads it in the event loop,
// where saving and quitting are safe.
//
// One watcher per process: it owns the handlers of its signals while it
// lives and gives them back to the default action when destroyed.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(std::initializer_list<int> numbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the socket pair or a handler could not be set up (logged).
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void signalled(int number);

private:
    void readSignals();
    static void handler(int number);

    QSocketNotifier* m_notifier = nullptr;
    int m_numbers[8] = {};
    int m_count = 0;
};

} // namespace tf
