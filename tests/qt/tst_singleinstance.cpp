// One reader per user: a second start hands its book to the running reader
// (which keeps the open book's place, then opens it) and ends with status 0;
// a socket left by a crash is taken over; a reader that does not answer is
// left alone; --new-window starts a reader of its own; stray connections are
// dropped.

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "MainFrameTestSupport.h"
#include "SingleInstance.h"
#include "utility/DataStore.h"

using test::Session;
using test::waitFor;
using tf::SingleInstance;

namespace {

const char* const kAlice = "epub2-pg11-alice.epub";
const char* const kHolmes = "epub2-pg1661-sherlock-holmes.epub";

// The path as the reader makes it: absolute and clean.
QString corpusFile(const char* name) {
    return QFileInfo(QString::fromStdString(corpus_path(name))).absoluteFilePath();
}

bool holdsALibrary(const QString& dir) {
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (QFileInfo(it.next()).fileName().startsWith("data.db"))
            return true;
    }
    return false;
}

// The books recorded in the library below `dataHome`.
QStringList recorded(const QString& dataHome) {
    const QString db = QDir(dataHome).filePath("OrinelReader/data.db");
    QStringList books;
    if (!QFileInfo::exists(db))
        return books;
    tf::DataStore store(QFile::encodeName(db).toStdString());
    tf::DataStore::Rows rows;
    store.getQuery("SELECT filename FROM files", rows);
    for (const auto& row : rows)
        books << QFile::decodeName(QByteArray::fromStdString(row.at("filename")));
    return books;
}

// A reader started as a user would, with its own runtime and data folders.
struct Reader {
    QProcess process;
    QTemporaryDir data;
    QByteArray output;

    Reader(const QString& runtime, const QStringList& args, const QString& workingDir = QString()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("XDG_DATA_HOME", data.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (!workingDir.isEmpty())
            process.setWorkingDirectory(workingDir);
        QObject::connect(&process, &QProcess::readyRead, [this] { output += process.readAll(); });
        process.start(ORINEL_READER_BIN, args);
    }
    ~Reader() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
    // Waits with the event loop running (the reader it talks to may be this process).
    bool finished(int ms = 20000) {
        return waitFor([this] { return process.state() == QProcess::NotRunning; }, ms);
    }
    bool endedWell() { return finished() && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0; }
};

// A socket file with nobody behind it, as a killed reader leaves one.
bool makeSocketFile(const QString& path, bool listening, int* keepOpen = nullptr) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= static_cast<int>(sizeof(address.sun_path)))
        return false;
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (ok && listening)
        ok = ::listen(fd, 4) == 0;
    if (keepOpen && ok)
        *keepOpen = fd;
    else
        ::close(fd);
    return ok;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void aSecondStartHandsItsBookOver() {
        Session s;
        QVERIFY(s.exposed);
        const std::string alice = corpusFile(kAlice).toStdString();
        QVERIFY(s.open(alice));
        for (int i = 0; i < 3; ++i) {
            s.frame->onChapterNext();
            QVERIFY(s.waitSettled());
        }
        const tf::String chapter = s.view()->current_address();

        QTemporaryDir runtime;
        SingleInstance instance(QDir(runtime.path()).filePath("orinel-reader.socket"), nullptr);
        QCOMPARE(instance.claim(QString()), SingleInstance::Listening);
        connect(&instance, &SingleInstance::openRequested, s.frame.get(), &tf::MainFrame::openFromOutside);

        // Named relative to the second start's own folder.
        Reader second(runtime.path(), {kHolmes}, QFileInfo(corpusFile(kHolmes)).path());
        QVERIFY2(second.endedWell(), second.output.right(2000).constData());
        const std::string holmes = corpusFile(kHolmes).toStdString();
        QVERIFY(s.waitLoaded(holmes));
        QVERIFY2(!holdsALibrary(second.data.path()), "the second start opened a library of its own");

        tf::String saved;
        int position = 0, zoom = 0;
        QVERIFY(s.frame->getLibrary()->fetchReadState(tf::String(alice), saved, position, zoom));
        QCOMPARE(saved, chapter);

        // The open book handed over again keeps its page.
        s.frame->onChapterNext();
        QVERIFY(s.waitSettled());
        const tf::String page = s.view()->current_address();
        Reader again(runtime.path(), {corpusFile(kHolmes)});
        QVERIFY(again.endedWell());
        QVERIFY(s.waitSettled());
        QCOMPARE(s.view()->current_address(), page);
        QCOMPARE(s.openFile(), holmes);
    }

    void aSocketLeftByACrashIsTakenOver() {
        QTemporaryDir runtime;
        const QString path = QDir(runtime.path()).filePath("orinel-reader.socket");
        QVERIFY(makeSocketFile(path, false));
        {
            SingleInstance instance(path, nullptr);
            QCOMPARE(instance.claim(QString()), SingleInstance::Listening);
            QVERIFY(instance.isListening());
        }
        QVERIFY(!QFileInfo::exists(path)); // a reader that ends takes its socket along

        // The real program: the first start takes the stale socket over and
        // gets the book of the second.
        QVERIFY(makeSocketFile(path, false));
        Reader first(runtime.path(), {});
        QVERIFY(waitFor(
            [&] {
                QLocalSocket probe;
                probe.connectToServer(path);
                return probe.waitForConnected(200);
            },
            20000));
        QVERIFY(first.running());
        Reader second(runtime.path(), {corpusFile(kAlice)});
        QVERIFY2(second.endedWell(), second.output.right(2000).constData());
        QVERIFY(first.running());
        // The first reader records the book in its library once it shows it.
        QVERIFY2(waitFor([&] { return recorded(first.data.path()).contains(corpusFile(kAlice)); }, 20000),
                 first.output.right(3000).constData());
    }

    void aReaderThatDoesNotAnswerIsLeftAlone() {
        QTemporaryDir runtime;
        const QString path = QDir(runtime.path()).filePath("orinel-reader.socket");
        int fd = -1;
        QVERIFY(makeSocketFile(path, true, &fd));
        SingleInstance instance(path, nullptr);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(instance.claim(corpusFile(kAlice)), SingleInstance::Alone);
        QVERIFY(timer.elapsed() < 4 * SingleInstance::kTimeoutMs);
        QVERIFY(!instance.isListening());
        QVERIFY(QFileInfo::exists(path));
        ::close(fd);
    }

    void newWindowStartsAReaderOfItsOwn() {
        QTemporaryDir runtime;
        SingleInstance instance(QDir(runtime.path()).filePath("orinel-reader.socket"), nullptr);
        QCOMPARE(instance.claim(QString()), SingleInstance::Listening);
        int requests = 0;
        connect(&instance, &SingleInstance::openRequested, this, [&] { ++requests; });

        Reader separate(runtime.path(), {"--new-window", corpusFile(kAlice)});
        QVERIFY(waitFor([&] { return holdsALibrary(separate.data.path()); }, 20000));
        QTest::qWait(300);
        QVERIFY(separate.running());
        QCOMPARE(requests, 0);
    }

    void strayConnectionsAreDropped() {
        QTemporaryDir runtime;
        const QString path = QDir(runtime.path()).filePath("orinel-reader.socket");
        SingleInstance instance(path, nullptr);
        QCOMPARE(instance.claim(QString()), SingleInstance::Listening);
        QStringList requests;
        connect(&instance, &SingleInstance::openRequested, this, [&](const QString& book) { requests << book; });

        QLocalSocket garbage, silent;
        garbage.connectToServer(path);
        silent.connectToServer(path);
        QVERIFY(garbage.waitForConnected(2000) && silent.waitForConnected(2000));
        garbage.write(QByteArray(200, 'x'));
        garbage.flush();
        QVERIFY(waitFor([&] { return garbage.state() == QLocalSocket::UnconnectedState; }, 5000));
        // A client that never finishes its message is cut off.
        QVERIFY(waitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; },
                        3 * SingleInstance::kTimeoutMs));
        QVERIFY(requests.isEmpty());

        Reader second(runtime.path(), {corpusFile(kAlice)});
        QVERIFY(second.endedWell());
        QCOMPARE(requests, QStringList{corpusFile(kAlice)});
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
