#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace tf {

// One reader per user: the first reader listens on a local socket, and a
// later start hands its book to it and ends instead of opening a second
// window with a second library connection.
//
// The socket is "orinel-reader.socket" in $XDG_RUNTIME_DIR (a private
// folder), else "orinel-reader-UID.socket" in the temporary folder, made
// accessible to the user only. A socket file no reader answers on (left by a
// crash) is removed and taken over; one whose reader accepts but does not
// answer within kTimeoutMs is left alone, and the new reader runs without
// listening. Deciding between handing over and listening holds a lock file
// beside the socket, so two readers started at once do not both listen.
//
// A message is the magic line, then the book's absolute path (QDataStream
// QString; empty: only come to the front). The reader answers one byte once
// it has emitted openRequested. Messages larger than kMaxMessage or slower
// than kTimeoutMs are dropped. Paths from the socket come from the same
// user; they are opened like a book named on the command line.
//
// Lives on the window thread; the server side works in its event loop.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 3000;
    static constexpr qint64 kMaxMessage = 64 * 1024;

    enum Role {
        HandedOver, // another reader took the book: end this one
        Listening,  // this is the reader; books handed over arrive as openRequested
        Alone,      // no socket (a hung reader holds it, or it cannot be made): run without
    };

    explicit SingleInstance(QObject* parent = nullptr);
    // With a socket path of the caller's choosing (tests).
    SingleInstance(const QString& socketPath, QObject* parent);
    ~SingleInstance() override;

    static QString defaultSocketPath();
    QString socketPath() const { return path; }

    // Hands `book` (a path; made absolute here; "" for none) to a running
    // reader, or else starts listening. Blocks for at most about kTimeoutMs
    // (twice that when another reader is deciding at the same moment).
    Role claim(const QString& book);
    bool isListening() const;

signals:
    // A book handed over by another start ("" when none was named: only the
    // window is to come to the front).
    void openRequested(const QString& path);

private:
    enum Answer { Answered, NoReader, NoAnswer };
    Answer handOver(const QString& book);
    bool listen();
    void onConnection();
    void readMessage(QLocalSocket* socket);

    QString path;
    QLocalServer* server = nullptr;
};

} // namespace tf
