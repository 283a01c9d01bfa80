#include "worker/worker_resources.h"

#include <QFile>
#include <QStringDecoder>

namespace quillmere::WorkerResources {

namespace {

std::optional<QString> readUtf8(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<QString> script() {
    return readUtf8(QStringLiteral(":/worker/worker.js"));
}

std::optional<QString> schema() {
    return readUtf8(QStringLiteral(":/worker/schema.sql"));
}

} // namespace quillmere::WorkerResources
