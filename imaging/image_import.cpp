#include "imaging/image_import.h"

#include "core/file_error.h"
#include "render/media_reference.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

namespace quillmere::ImageImport {

namespace {

const QString tooLarge = QStringLiteral("This image is too large to host; use a smaller one.");

bool hasTransparency(const QImage& image) {
    if (!image.hasAlphaChannel()) {
        return false;
    }
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 255) {
                return true;
            }
        }
    }
    return false;
}

QByteArray encode(const QImage& image, const char* format, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        throw ImageImportError(QStringLiteral("Could not encode the image: ") +
                               writer.errorString());
    }
    return bytes;
}

Prepared checked(Prepared p) {
    if (p.bytes.size() > MediaReference::maxHostedBytes) {
        throw ImageImportError(tooLarge);
    }
    return p;
}

} // namespace

Prepared prepare(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Photographs are often stored sideways with a note to turn them.
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    if (format == "gif" && bytes.size() < keptGIFBytes) {
        return {bytes, QStringLiteral("gif")};
    }
    if (format.isEmpty() || format == "svg" || format == "svgz") {
        throw ImageImportError(QStringLiteral("This file is not a picture Quillmere can use; "
                                              "choose a JPEG, PNG, GIF or WebP image."));
    }
    QImage image = reader.read();
    if (image.isNull()) {
        throw ImageImportError(QStringLiteral("Could not read the image: ") + reader.errorString());
    }
    return prepare(std::move(image));
}

Prepared prepare(QImage image) {
    if (image.isNull()) {
        throw ImageImportError(QStringLiteral("There is no picture to add."));
    }
    if (image.width() > maxWidth) {
        image = image.scaledToWidth(maxWidth, Qt::SmoothTransformation);
    }
    if (hasTransparency(image)) {
        return checked({encode(image, "png", -1), QStringLiteral("png")});
    }
    return checked({encode(image.convertToFormat(QImage::Format_RGB888), "jpeg", jpegQuality),
                    QStringLiteral("jpg")});
}

QString store(const Prepared& image, const QString& folder) {
    const QString name = MediaReference::nameFor(image.bytes, image.extension);
    const QString path = folder + QLatin1Char('/') + name;
    if (QFileInfo(path).size() == image.bytes.size()) {
        return name; // named after its bytes: already there
    }
    if (!QDir().mkpath(folder)) {
        throw FileError(folder, QStringLiteral("create"), QStringLiteral("no permission"));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image.bytes) != image.bytes.size() ||
        !file.commit()) {
        throw FileError(path, QStringLiteral("write"), file.errorString());
    }
    return name;
}

QString markdown(const QString& description, const QString& name) {
    QString text = description;
    // The description sits between brackets; keep them balanced and on one line.
    text.replace(QLatin1Char('['), QLatin1Char('(')).replace(QLatin1Char(']'), QLatin1Char(')'));
    text = text.simplified();
    if (text.isEmpty()) {
        text = QStringLiteral("describe the image");
    }
    return QStringLiteral("![%1](media/%2)").arg(text, name);
}

QString descriptionOf(const QString& path) {
    return QFileInfo(path).completeBaseName();
}

} // namespace quillmere::ImageImport
