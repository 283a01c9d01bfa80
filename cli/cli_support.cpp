#include "cli/cli_command.h"
#include "core/error.h"
#include "core/library_file.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace quillmere::cli {

void writeOut(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeOut(const QString& text) {
    writeOut(text.toUtf8());
}

void writeErr(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

std::optional<QString> Arguments::option(const QString& name) {
    const QString flagText = QStringLiteral("--") + name;
    for (qsizetype i = 0; i < m_arguments.size(); ++i) {
        const QString& a = m_arguments[i];
        if (a == flagText) {
            if (i + 1 >= m_arguments.size()) {
                throw UsageError(QStringLiteral("%1 needs a value").arg(flagText));
            }
            const QString value = m_arguments[i + 1];
            m_arguments.remove(i, 2);
            return value;
        }
        if (a.startsWith(flagText + QLatin1Char('='))) {
            const QString value = a.mid(flagText.size() + 1);
            m_arguments.remove(i);
            return value;
        }
    }
    return std::nullopt;
}

QStringList Arguments::options(const QString& name) {
    QStringList values;
    while (auto value = option(name)) {
        values.append(*value);
    }
    return values;
}

bool Arguments::flag(const QString& name) {
    return m_arguments.removeAll(QStringLiteral("--") + name) > 0;
}

QString Arguments::required(const QString& name) {
    if (auto value = option(name)) {
        return *value;
    }
    throw UsageError(QStringLiteral("--%1 is required").arg(name));
}

QStringList Arguments::positional() {
    for (const QString& a : std::as_const(m_arguments)) {
        if (a.startsWith(QStringLiteral("--"))) {
            throw UsageError(QStringLiteral("unknown option %1").arg(a));
        }
    }
    return m_arguments;
}

QByteArray readFileOrStdin(const std::optional<QString>& path) {
    QFile file;
    if (!path || *path == QLatin1String("-")) {
        if (!file.open(stdin, QIODevice::ReadOnly)) {
            throw UsageError(QStringLiteral("cannot read standard input"));
        }
    } else {
        file.setFileName(*path);
        if (!file.open(QIODevice::ReadOnly)) {
            throw UsageError(QStringLiteral("cannot read %1: %2").arg(*path, file.errorString()));
        }
    }
    return file.readAll();
}

Library readLibrary(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        throw UsageError(QStringLiteral("cannot read %1: no such file").arg(path));
    }
    if (!info.isFile() || !info.isReadable()) {
        throw UsageError(QStringLiteral("cannot read %1: not a readable file").arg(path));
    }
    try {
        return LibraryFile::read(path);
    } catch (const Error& error) {
        throw UsageError(error.description());
    }
}

const Newsletter& findIssue(const Library& library, const QString& id) {
    if (id == QLatin1String("first")) {
        if (library.newsletters.isEmpty()) {
            throw UsageError(QStringLiteral("the library has no issues"));
        }
        return library.newsletters.first();
    }
    const QUuid uuid = QUuid::fromString(id.trimmed());
    if (uuid.isNull()) {
        throw UsageError(
            QStringLiteral("--issue must be an issue id or \"first\", not \"%1\"").arg(id));
    }
    for (const Newsletter& n : library.newsletters) {
        if (n.id == uuid) {
            return n;
        }
    }
    throw UsageError(QStringLiteral("no issue with id %1 in the library").arg(id));
}

} // namespace quillmere::cli
