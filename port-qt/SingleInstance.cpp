#include "SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <unistd.h>

#include "utility/log.h"

namespace tf {

namespace {

const char kMagic[] = "orinel-reader 1\n";
const char kAck = 'k';
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

} // namespace

SingleInstance::SingleInstance(QObject* parent) : SingleInstance(defaultSocketPath(), parent) {}

SingleInstance::SingleInstance(const QString& socketPath, QObject* parent) : QObject(parent), path(socketPath) {}

SingleInstance::~SingleInstance() {
    if (server)
        server->close(); // removes the socket file
}

QString SingleInstance::defaultSocketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath("orinel-reader.socket");
    return QDir(QDir::tempPath()).filePath(QString("orinel-reader-%1.socket").arg(::getuid()));
}

bool SingleInstance::isListening() const {
    return server && server->isListening();
}

SingleInstance::Role SingleInstance::claim(const QString& book) {
    const QString absolute = book.isEmpty() ? QString() : QFileInfo(book).absoluteFilePath();
    QLockFile lock(path + ".lock");
    if (!lock.tryLock(2 * kTimeoutMs))
        TF_LOG(LOG_WARN, "another reader keeps " << (path + ".lock").toStdString() << " locked; going on");

    switch (handOver(absolute)) {
    case Answered:
        TF_LOG(LOG_INFO, "the running reader takes over: " << absolute.toStdString());
        return HandedOver;
    case NoAnswer:
        TF_LOG(LOG_WARN, "a reader holds " << path.toStdString() << " but does not answer; this one runs alone");
        return Alone;
    case NoReader:
        break;
    }
    if (QFileInfo::exists(path)) {
        TF_LOG(LOG_INFO, "no reader answers on " << path.toStdString() << " (left by a crash): taken over");
        QLocalServer::removeServer(path);
    }
    return listen() ? Listening : Alone;
}

SingleInstance::Answer SingleInstance::handOver(const QString& book) {
    const QFileInfo socketFile(path);
    if (!socketFile.exists())
        return NoReader;
    // Someone else's socket gets neither our paths nor removed.
    if (socketFile.ownerId() != ::getuid())
        return NoAnswer;

    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kTimeoutMs)) {
        const auto error = socket.error();
        if (error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError)
            return NoReader;
        return NoAnswer;
    }
    QByteArray message(kMagic);
    {
        QDataStream out(&message, QIODevice::Append);
        out.setVersion(kStreamVersion);
        out << book;
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(kTimeoutMs))
        return NoAnswer;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(kTimeoutMs))
            return NoAnswer;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == kAck ? Answered : NoAnswer;
}

bool SingleInstance::listen() {
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        TF_LOG(LOG_WARN, "cannot listen on " << path.toStdString() << ": " << server->errorString().toStdString()
                                             << "; books from other starts open in their own window");
        delete server;
        server = nullptr;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    return true;
}

void SingleInstance::onConnection() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        // A sender that never finishes is cut off.
        QTimer::singleShot(kTimeoutMs, socket, [socket] { socket->abort(); });
        readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket* socket) {
    if (socket->property("done").toBool())
        return;
    const qsizetype magicLength = sizeof(kMagic) - 1;
    if (socket->bytesAvailable() > kMaxMessage) {
        TF_LOG(LOG_WARN, "a message on " << path.toStdString() << " is too long; dropped");
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < magicLength)
        return;
    if (socket->peek(magicLength) != QByteArray(kMagic, magicLength)) {
        TF_LOG(LOG_WARN, "a message on " << path.toStdString() << " is not from a reader; dropped");
        socket->abort();
        return;
    }
    socket->startTransaction();
    socket->skip(magicLength);
    QDataStream in(socket);
    in.setVersion(kStreamVersion);
    QString book;
    in >> book;
    if (in.status() == QDataStream::ReadCorruptData) {
        socket->abort();
        return;
    }
    if (in.status() != QDataStream::Ok) {
        socket->rollbackTransaction(); // not all of it yet
        return;
    }
    socket->commitTransaction();
    socket->setProperty("done", true);
    emit openRequested(book);
    socket->putChar(kAck);
    socket->flush();
    socket->disconnectFromServer();
}

} // namespace tf
