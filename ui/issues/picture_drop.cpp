#include "ui/issues/picture_drop.h"

#include "core/file_error.h"
#include "imaging/image_import.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>

namespace quillmere::PictureDrop {

QString markdownForFile(const QString& path, const QString& folder) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw FileError(path, QStringLiteral("read"), file.errorString());
    }
    const QString name = ImageImport::store(ImageImport::prepare(file.readAll()), folder);
    return ImageImport::markdown(ImageImport::descriptionOf(path), name);
}

std::optional<QString> markdownFor(const QMimeData* data, const QString& folder) {
    QStringList pictures;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !QImageReader::imageFormat(url.toLocalFile()).isEmpty()) {
            pictures.append(markdownForFile(url.toLocalFile(), folder));
        }
    }
    if (pictures.isEmpty() && data->hasImage()) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        const QString name = ImageImport::store(ImageImport::prepare(image), folder);
        pictures.append(ImageImport::markdown(QString(), name));
    }
    if (pictures.isEmpty()) {
        return std::nullopt;
    }
    // Each picture is a paragraph of its own.
    return pictures.join(QStringLiteral("\n\n"));
}

} // namespace quillmere::PictureDrop
