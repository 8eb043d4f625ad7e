// The page writer's PNG files: every band layout decodes to the very pixels
// painted, and the file is strictly valid (chunk checksums, one zlib stream
// with a correct Adler-32), not only accepted by a forgiving reader.
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include "PngWriter.h"

namespace {

QImage page(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont font;
    font.setPixelSize(18);
    p.setFont(font);
    for (int y = 20; y < h; y += 24)
        p.drawText(8, y, QStringLiteral("Lorem ipsum dolor sit amet, Żółć, 日本語 %1").arg(y));
    p.fillRect(QRect(w / 4, h / 3, w / 3, h / 5), QColor(200, 30, 90));
    return image;
}

QImage noise(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = 0xff000000u | (rng.generate() & 0xffffffu);
    }
    return image;
}

quint32 be32(const QByteArray& b, qsizetype at) {
    const auto* u = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

// Walks the chunks, checks each CRC and inflates the IDAT data with zlib,
// which verifies the stream's checksum; returns the inflated size or -1.
qint64 strictInflatedSize(const QByteArray& png, QString& why) {
    if (!png.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8))) {
        why = "no PNG signature";
        return -1;
    }
    QByteArray idat;
    qsizetype at = 8;
    bool ended = false;
    while (at + 12 <= png.size()) {
        const qsizetype size = be32(png, at);
        if (at + 12 + size > png.size()) {
            why = "chunk runs past the end";
            return -1;
        }
        const QByteArray type = png.mid(at + 4, 4);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + at + 4), uInt(size + 4));
        if (crc != be32(png, at + 8 + size)) {
            why = "bad CRC in " + QString::fromLatin1(type);
            return -1;
        }
        if (type == "IDAT")
            idat += png.mid(at + 8, size);
        at += 12 + size;
        if (type == "IEND") {
            ended = true;
            break;
        }
    }
    if (!ended || at != png.size()) {
        why = "no IEND at the end";
        return -1;
    }
    z_stream z{};
    inflateInit(&z);
    QByteArray out(64 << 20, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(idat.data());
    z.avail_in = uInt(idat.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const qint64 total = qint64(z.total_out);
    const bool allInput = z.avail_in == 0;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || !allInput) {
        why = QStringLiteral("zlib stream does not inflate cleanly (%1)").arg(rc);
        return -1;
    }
    return total;
}

} // namespace

class TestPngWriter : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data() {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("threads");
        QTest::newRow("1x1") << page(1, 1) << 0;
        QTest::newRow("page, one band") << page(800, 1000) << 1;
        QTest::newRow("page, two bands") << page(800, 1000) << 2;
        QTest::newRow("page, three uneven bands") << page(601, 1000) << 3;
        QTest::newRow("page, more threads than bands allow") << page(300, 300) << 8;
        QTest::newRow("noise, four bands") << noise(257, 1031) << 4;
        QTest::newRow("tall and narrow") << noise(3, 2000) << 5;
        QTest::newRow("short and wide") << page(3000, 2) << 2;
        QImage argb = noise(200, 300).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("premultiplied input") << argb << 2;
    }

    void roundTrip() {
        QFETCH(QImage, image);
        QFETCH(int, threads);
        const QByteArray png = tf::PngWriter::encode(image, threads);
        QVERIFY(!png.isEmpty());

        QString why;
        const qint64 raw = strictInflatedSize(png, why);
        QVERIFY2(raw >= 0, qPrintable(why));
        QCOMPARE(raw, qint64(image.height()) * (1 + 3 * qint64(image.width())));

        QImage back;
        QVERIFY(back.loadFromData(png, "PNG"));
        QCOMPARE(back.size(), image.size());
        QCOMPARE(back.convertToFormat(QImage::Format_RGB32), image.convertToFormat(QImage::Format_RGB32));
    }

    void bandsGiveTheSamePixels() {
        // However the rows are shared out, the decoded picture is the same.
        const QImage image = page(640, 900);
        QImage first;
        QVERIFY(first.loadFromData(tf::PngWriter::encode(image, 1), "PNG"));
        for (int threads : {2, 3, 7}) {
            QImage other;
            QVERIFY(other.loadFromData(tf::PngWriter::encode(image, threads), "PNG"));
            QCOMPARE(other, first);
        }
    }

    void failures() {
        QVERIFY(tf::PngWriter::encode(QImage()).isEmpty());

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString why;
        QVERIFY(!tf::PngWriter::write(page(10, 10), dir.filePath("missing/folder/out.png"), &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(!tf::PngWriter::write(QImage(), dir.filePath("null.png"), &why));
        QVERIFY(!QFile::exists(dir.filePath("null.png")));

        const QString good = dir.filePath("page.png");
        QVERIFY(tf::PngWriter::write(page(120, 90), good, &why));
        QCOMPARE(QImage(good).convertToFormat(QImage::Format_RGB32), page(120, 90));
    }
};

QTEST_MAIN(TestPngWriter)
#include "tst_pngwriter.moc"
