// orinel-render: opens a book the way the reader does and writes one page of
// it as a PNG, without showing a window (tests, thumbnails, benchmarks).
//
//   orinel-render [--width W] [--height H] [--font-size S] [--chapter N | --entry NAME]
//                 [--full] [--text] [--toc] [--info] [--theme T] [--line-width W] -o OUT.png BOOK
//   orinel-render --thumbnail SIZE BOOK OUT.png
//   orinel-render --search PHRASE [--exact] BOOK

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QImage>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "BookThumbnail.h"
#include "HtmlWindow.h"
#include "PngWriter.h"
#include "src/BookSearch.h"
#include "src/BookTextCache.h"
#include "utility/String.h"
#include "utility/URI.h"

namespace {

// Tallest page --full writes; a longer chapter is cut there (and says so).
constexpr int kMaxFullHeight = 32000;

FILE* g_out = stdout;

[[noreturn]] void fail(const std::string& message, int code = 1) {
    std::fflush(g_out);
    std::fprintf(stderr, "orinel-render: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(code);
}

int positive(const QCommandLineParser& args, const QString& name, int fallback, int max) {
    if (!args.isSet(name))
        return fallback;
    bool ok = false;
    const int value = args.value(name).toInt(&ok);
    if (!ok || value <= 0 || value > max)
        fail("--" + name.toStdString() + " wants a whole number from 1 to " + std::to_string(max) + ", not \"" +
             args.value(name).toStdString() + "\"");
    return value;
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return text;
}

// A file manager's thumbnail: the cover (or first page) no larger than SIZE on
// its longer side. Fails with a status other than 0 and leaves no file behind.
[[noreturn]] void thumbnail(const QCommandLineParser& args) {
    const QStringList positional = args.positionalArguments();
    QString out = args.value("output");
    if (positional.size() == 2 && out.isEmpty())
        out = positional[1];
    else if (positional.size() != 1 || out.isEmpty())
        fail("--thumbnail SIZE wants BOOK and OUT.png", 2);
    const int size = positive(args, "thumbnail", 0, tf::BookThumbnail::kMaxSize);
    QString why;
    const QImage image = tf::BookThumbnail::make(positional[0], size, &why);
    if (image.isNull())
        fail("no thumbnail for " + positional[0].toStdString() + ": " + why.toStdString(), 4);
    if (!tf::PngWriter::write(image, out, &why)) {
        QFile::remove(out);
        fail("cannot write " + out.toStdString() + ": " + why.toStdString(), 6);
    }
    std::fflush(stderr);
    std::_Exit(0);
}

// --search: needs the book's text only, no layout.
int search(const std::string& path, const std::string& phrase, bool exact) {
    std::unique_ptr<tf::BookTextCache> book = tf::BookTextCache::open(path);
    if (!book)
        fail("cannot open " + path + ": not a readable book", 4);
    tf::BookSearch::Options options;
    options.mode = exact ? tf::FoldedText::EXACT : tf::FoldedText::LOOSE;
    tf::BookSearch::run(*book, phrase, options, [](size_t entry, std::vector<tf::BookSearch::Hit>& hits) {
        for (const auto& hit : hits)
            std::fprintf(g_out, "%zu\t%zu\t%s%s%s\n", entry + 1, hit.offset, hit.before.c_str(), hit.match.c_str(),
                         hit.after.c_str());
        return true;
    });
    std::fflush(g_out);
    std::fflush(stderr);
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv) {
    // A thumbnailer runs where no display may be reached (file managers
    // sandbox it), whatever platform the environment names.
    const bool thumbnailing = std::any_of(argv + 1, argv + argc, [](const char* arg) {
        return std::strcmp(arg, "--thumbnail") == 0 || std::strncmp(arg, "--thumbnail=", 12) == 0;
    });
    if (thumbnailing || qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Parts of the core write diagnostics to the standard output; the
    // program's own output (--info, --toc, --text) keeps a clean stream.
    const int realOut = dup(STDOUT_FILENO);
    if (realOut >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0)
        g_out = fdopen(realOut, "w");
    if (!g_out)
        g_out = stdout;

    QApplication app(argc, argv);
    QCommandLineParser args;
    args.setApplicationDescription("Renders a page of a book to a PNG image.");
    args.addHelpOption();
    args.addOptions({
        {"width", "Layout width in pixels (800).", "W"},
        {"height", "Height of the visible page in pixels (1000).", "H"},
        {"font-size", "Default font size in pixels (20).", "S"},
        {"chapter", "The N-th reading-order entry, counted from 1.", "N"},
        {"entry", "The entry of that name.", "NAME"},
        {"full", "The whole laid-out chapter instead of the visible page."},
        {"text", "Print the text of the painted runs, one block per line."},
        {"toc", "Print the contents entries with their depth."},
        {"info", "Print the title, format, spine length and contents length."},
        {"theme", "Paint as the reader does with this theme: light, sepia or dark (with the reader's default text "
                  "layout unless --line-width says otherwise).",
         "THEME"},
        {"line-width", "The reader's line width: narrow, medium, wide or full.", "WIDTH"},
        {{"o", "output"}, "The PNG file to write.", "OUT.png"},
        {"thumbnail", "Write the cover (or first page) at most SIZE pixels on its longer side: "
                      "--thumbnail SIZE BOOK OUT.png.", "SIZE"},
        {"search", "Print every match of PHRASE in the whole book in reading order, one per line: the entry "
                   "number (counted from 1, as --chapter), the character offset of the match in that entry's "
                   "text, and the context, tab-separated; nothing when there is none. The text of an entry is "
                   "its readable text without layout; a character is one Unicode code point of it. Case, "
                   "accents and runs of white space do not matter.",
         "PHRASE"},
        {"exact", "With --search: case and accents must match too."},
    });
    args.addPositionalArgument("BOOK", "An EPUB, FictionBook, HTML, XHTML or SVG file.");
    if (!args.parse(QCoreApplication::arguments()))
        fail(args.errorText().toStdString(), 2);
    if (args.isSet("help")) {
        std::fputs(args.helpText().toLocal8Bit().constData(), g_out);
        std::fflush(g_out);
        return 0;
    }
    if (args.isSet("thumbnail"))
        thumbnail(args);
    const QStringList positional = args.positionalArguments();
    if (positional.size() != 1)
        fail("give exactly one BOOK (see --help)", 2);
    if (args.isSet("chapter") && args.isSet("entry"))
        fail("--chapter and --entry exclude each other", 2);
    const bool searching = args.isSet("search");
    const bool printing = searching || args.isSet("text") || args.isSet("toc") || args.isSet("info");
    if (!args.isSet("output") && !printing)
        fail("no output: give -o OUT.png", 2);

    const int width = positive(args, "width", 800, 20000);
    const int height = positive(args, "height", 1000, kMaxFullHeight);
    const int fontSize = positive(args, "font-size", 20, 400);

    const QFileInfo info(positional.front());
    if (!info.exists())
        fail("no such file: " + positional.front().toStdString(), 3);
    if (!info.isFile() || !info.isReadable())
        fail("not a readable file: " + positional.front().toStdString(), 3);
    const std::string path = QFile::encodeName(info.absoluteFilePath()).toStdString();
    const tf::String address(path);
    const int type = tf::URI(address).rtype();
    const bool singleFile = type == tf::URI::RT_HTML || type == tf::URI::RT_SVG;
    if (type != tf::URI::RT_EPUB && type != tf::URI::RT_FB2 && !singleFile)
        fail("not a book: " + path + " (EPUB, FictionBook, HTML, XHTML or SVG expected)", 3);

    if (searching)
        return search(path, args.value("search").toUtf8().toStdString(), args.isSet("exact"));

    tf::HtmlWindow view;
    if (args.isSet("theme") || args.isSet("line-width")) {
        tf::ThemeStyle style;
        if (args.isSet("theme") && !tf::ThemeStyle::themeFromName(args.value("theme").toStdString(), style.theme))
            fail("--theme wants light, sepia or dark, not \"" + args.value("theme").toStdString() + "\"", 2);
        if (args.isSet("line-width") &&
            !tf::ThemeStyle::widthFromName(args.value("line-width").toStdString(), style.lineWidth))
            fail("--line-width wants narrow, medium, wide or full, not \"" + args.value("line-width").toStdString() +
                     "\"",
                 2);
        view.setReadingStyle(style);
    }
    view.setFixedClientSize(QSize(width, height));
    view.setFontSize(fontSize);
    // Only the visible page is painted: a long chapter need not be laid out to its end.
    if (!args.isSet("full"))
        view.set_preview_height(height);

    const bool opened = view.load_uri(address);
    std::string format = singleFile ? "html" : "";
    tf::pair_list_t spine, toc;
    std::vector<unsigned> depths;
    std::string title;
    {
        auto lock = view.lockReader();
        tf::BaseReader* reader = view.getReader();
        const bool usable = reader && (singleFile ? view.has_document() : (opened && reader->isOpen()));
        if (!usable)
            fail("cannot open " + path + ": not a readable " +
                     (type == tf::URI::RT_EPUB ? "EPUB book" : type == tf::URI::RT_FB2 ? "FictionBook" : "page"),
                 4);
        format = reader->get_type();
        title = reader->get_title();
        spine = reader->spine();
        toc = reader->toc();
        depths = reader->toc_depths();
    }

    if (args.isSet("info")) {
        std::fprintf(g_out, "title: %s\nformat: %s\nspine: %zu\ncontents: %zu\n", oneLine(title).c_str(),
                     format.c_str(), spine.size(), toc.size());
    }
    if (args.isSet("toc")) {
        for (size_t i = 0; i < toc.size(); ++i)
            std::fprintf(g_out, "%u\t%s\t%s\n", i < depths.size() ? depths[i] : 0u, oneLine(toc[i].second).c_str(),
                         toc[i].first.c_str());
    }

    // The page: the cover (a single file is its own), a chapter or an entry.
    const auto before = view.document();
    std::string entry;
    if (args.isSet("chapter")) {
        bool ok = false;
        const int n = args.value("chapter").toInt(&ok);
        const int count = singleFile ? 1 : static_cast<int>(spine.size());
        if (!ok || n < 1 || n > count)
            fail("no such chapter: " + args.value("chapter").toStdString() + " (the book has " +
                     std::to_string(count) + ")",
                 5);
        if (!singleFile) {
            entry = spine[static_cast<size_t>(n - 1)].first;
            if (entry.empty())
                fail("chapter " + std::to_string(n) + " names no entry of the book", 5);
        }
    } else if (args.isSet("entry")) {
        if (singleFile)
            fail("a single-file book has no entries", 5);
        entry = args.value("entry").toStdString();
    }
    if (!entry.empty()) {
        view.load_uri(tf::String(format + "://" + entry));
        if (view.document() == before)
            fail("cannot show entry \"" + entry + "\" of " + path, 5);
    } else if (!singleFile) {
        view.showCoverPage();
        if (view.document() == before)
            fail("no cover page to show in " + path, 5);
    }
    if (!view.has_document())
        fail("nothing to show in " + path, 5);

    const QSize laidOut = view.documentSize();
    QRect area(0, 0, width, height);
    if (args.isSet("full")) {
        int full = std::max(1, laidOut.height());
        if (full > kMaxFullHeight) {
            std::fprintf(stderr, "orinel-render: the chapter is %d px high; the image holds its first %d px\n", full,
                         kMaxFullHeight);
            full = kMaxFullHeight;
        }
        area.setHeight(full);
    }
    if (args.isSet("text")) {
        QRect textArea = area;
        if (args.isSet("full"))
            textArea.setHeight(std::max(1, laidOut.height()));
        std::fputs(view.paintedText(textArea).c_str(), g_out);
    }
    std::fflush(g_out);

    if (args.isSet("output")) {
        const QImage image = view.renderImage(area);
        const QString out = args.value("output");
        QString why;
        if (image.isNull())
            fail("cannot paint the page (" + std::to_string(area.width()) + "x" + std::to_string(area.height()) +
                     " px is too large)",
                 6);
        if (!tf::PngWriter::write(image, out, &why))
            fail("cannot write " + out.toStdString() + ": " + why.toStdString(), 6);
    }
    // Done: the process ends without taking the laid-out book apart piece by piece.
    std::fflush(g_out);
    std::fflush(stderr);
    std::_Exit(0);
}
