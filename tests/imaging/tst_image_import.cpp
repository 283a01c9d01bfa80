// Pictures writers bring, through Qt's real image readers and writers: what is scaled, what
// format comes out, what is kept, what is refused, and the command line that does the same.
#include "imaging/image_import.h"
#include "render/media_reference.h"
#include "support/cli_run.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

QImage picture(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(0x1e, 0x63, 0xb8));
    sky.setColorAt(1, QColor(0xf2, 0xa6, 0x4b));
    painter.fillRect(image.rect(), sky);
    return image;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

const QByteArray pixelGIF =
    QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7");

} // namespace

class TestImageImport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void prepared_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QSize>("size");
        QTest::newRow("opaque alpha is a photo")
            << encoded(picture(300, 200, QImage::Format_ARGB32), "png") << u"jpg"_qs
            << QSize(300, 200);
        QTest::newRow("WebP is re-encoded")
            << encoded(picture(1700, 100), "webp") << u"jpg"_qs << QSize(1600, 94);
        // Its one pixel is transparent.
        QTest::newRow("GIF of a megabyte is re-encoded")
            << pixelGIF + QByteArray(1'000'000, '\0') << u"png"_qs << QSize(1, 1);
    }
    void prepared() {
        QFETCH(QByteArray, input);
        QFETCH(QString, extension);
        QFETCH(QSize, size);
        const ImageImport::Prepared p = ImageImport::prepare(input);
        QCOMPARE(p.extension, extension);
        QImage back;
        QVERIFY(back.loadFromData(p.bytes, extension == u"jpg"_qs ? "jpeg" : "png"));
        QCOMPARE(back.size(), size);
    }

    void smallGIFIsKept() {
        QCOMPARE(ImageImport::prepare(pixelGIF), (ImageImport::Prepared{pixelGIF, u"gif"_qs}));
    }

    void refused_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("message");
        const QString notPicture = u"This file is not a picture Quillmere can use; choose a JPEG, "
                                   "PNG, GIF or WebP image."_qs;
        QTest::newRow("SVG") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>")
                             << notPicture;
        QTest::newRow("text") << QByteArray("email,name\n") << notPicture;
        // Noise with transparency does not compress: far past what one row of the worker holds.
        QList<QRgb> noise(1600 * 1200);
        QRandomGenerator rng(5);
        for (QRgb& pixel : noise) {
            pixel = rng.generate() | 0x01000000;
        }
        const QImage image(reinterpret_cast<const uchar*>(noise.constData()), 1600, 1200,
                           QImage::Format_ARGB32);
        QTest::newRow("too large to host")
            << encoded(image, "png") << u"This image is too large to host; use a smaller one."_qs;
    }
    void refused() {
        QFETCH(QByteArray, input);
        QFETCH(QString, message);
        try {
            ImageImport::prepare(input);
            QFAIL("accepted");
        } catch (const ImageImportError& error) {
            QCOMPARE(error.description(), message);
        }
    }

    void storedUnderTheHashOfItsBytes() {
        QTemporaryDir dir;
        const ImageImport::Prepared p = ImageImport::prepare(encoded(picture(50, 40), "png"));
        const QString folder = dir.filePath(u"media"_qs);
        const QString name = ImageImport::store(p, folder);
        QCOMPARE(
            name,
            QString::fromLatin1(
                QCryptographicHash::hash(p.bytes, QCryptographicHash::Sha256).toHex().left(16)) +
                u".jpg"_qs);
        QVERIFY(MediaReference::isName(name));
        QCOMPARE(ImageImport::store(p, folder), name);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{name});
        QFile file(folder + u"/"_qs + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), p.bytes);
        QCOMPARE(ImageImport::markdown(u" A [big]\n day "_qs, name),
                 u"![A (big) day](media/"_qs + name + u")"_qs);
    }

    void commandLineAddsToTheLibrary() {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"Sunset at sea.png"_qs);
        QVERIFY(picture(2000, 1000).save(source));
        const auto run = test::runCli({u"media"_qs, u"add"_qs, source, u"--library"_qs,
                                       dir.filePath(u"lib/library.json"_qs)});
        QCOMPARE(run.code, 0);
        const QStringList files = QDir(dir.filePath(u"lib/media"_qs)).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 u"![Sunset at sea](media/"_qs + files.first() + u")\n"_qs);
        QCOMPARE(QImage(dir.filePath(u"lib/media/"_qs) + files.first()).width(), 1600);
    }
};

QTEST_MAIN(TestImageImport)
#include "tst_image_import.moc"
