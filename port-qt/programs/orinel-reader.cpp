// The reader: one main window; a book named on the command line opens at once.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>

#include "AboutDialog.h"
#include "MainFrame.h"
#include "ReadingTracker.h"
#include "SignalWatcher.h"
#include "SingleInstance.h"

#include <csignal>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("orinel-reader");
    QApplication::setApplicationDisplayName("Orinel Reader");
    QApplication::setApplicationVersion(tf::AboutDialog::kVersion);
    QGuiApplication::setDesktopFileName("orinel-reader");

    QCommandLineParser parser;
    parser.setApplicationDescription("Orinel Reader: EPUB, FictionBook and HTML books.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("book", "A book file to open.", "[BOOK]");
    parser.addOption({"new-window", "Start a reader of its own even when one is running."});
    parser.process(app);

    // A reader already running takes the book and comes to the front instead.
    const QStringList books = parser.positionalArguments();
    tf::SingleInstance instance;
    if (!parser.isSet("new-window") &&
        instance.claim(books.isEmpty() ? QString() : books.first()) == tf::SingleInstance::HandedOver)
        return 0;

    int result = 0;
    {
        tf::MainFrame frame;
        QIcon icon(":/icons/orinel-reader.svg");
        for (int size : {32, 64, 256})
            icon.addFile(QString(":/icons/orinel-reader-%1.png").arg(size), QSize(size, size));
        frame.setWindowIcon(icon);
        QApplication::setWindowIcon(icon);
        frame.show();
        QObject::connect(&instance, &tf::SingleInstance::openRequested, &frame, &tf::MainFrame::openFromOutside);

        // A logout (SIGHUP, SIGTERM) or Ctrl+C keeps the reading position.
        tf::SignalWatcher signalWatcher({SIGTERM, SIGINT, SIGHUP});
        QObject::connect(&signalWatcher, &tf::SignalWatcher::signalled, &frame, [&frame](int) {
            frame.getTracker()->saveNow(false);
            QCoreApplication::exit(0);
        });

        if (!books.isEmpty()) {
            const QString book = books.first();
            QTimer::singleShot(0, &frame, [&frame, book] { frame.openBook(book); });
        }
        result = app.exec();
    }
    return result;
}
