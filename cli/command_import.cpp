#include "cli/cli_command.h"
#include "core/iso_date.h"
#include "import/csv_importer.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

namespace quillmere::cli {

namespace {

// The result is written as it is walked, in pieces, rather than built as one JSON document
// first: a list of a million readers would otherwise take gigabytes.
class JsonOutput {
public:
    ~JsonOutput() { flush(); }

    JsonOutput& raw(const char* text) {
        m_buffer += text;
        return *this;
    }
    JsonOutput& number(qint64 value) {
        m_buffer += QByteArray::number(value);
        return *this;
    }
    JsonOutput& string(const QString& text) {
        m_buffer += '"';
        for (const char c : text.toUtf8()) {
            switch (c) {
            case '"':
                m_buffer += "\\\"";
                break;
            case '\\':
                m_buffer += "\\\\";
                break;
            case '\n':
                m_buffer += "\\n";
                break;
            case '\r':
                m_buffer += "\\r";
                break;
            case '\t':
                m_buffer += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    m_buffer += "\\u00";
                    m_buffer += QByteArray::number(static_cast<unsigned char>(c), 16)
                                    .rightJustified(2, '0');
                } else {
                    m_buffer += c;
                }
            }
        }
        m_buffer += '"';
        if (m_buffer.size() > (1 << 20)) {
            flush();
        }
        return *this;
    }
    void flush() {
        writeOut(m_buffer);
        m_buffer.clear();
    }

private:
    QByteArray m_buffer;
};

// Indented JSON with sorted keys, as QJsonDocument writes it.
void writeResult(const CSVImportResult& result) {
    JsonOutput out;
    out.raw("{\n    \"assumedActive\": ").number(result.assumedActive);
    out.raw(",\n    \"confirmedElsewhere\": ").number(result.confirmedElsewhere);
    out.raw(",\n    \"duplicates\": ").number(result.duplicates);
    out.raw(",\n    \"format\": ").string(rawValue(result.format));
    out.raw(",\n    \"skipped\": [");
    const char* separator = "\n";
    for (const SkippedRow& row : result.skipped) {
        out.raw(separator).raw("        {\n            \"line\": ").number(row.line);
        out.raw(",\n            \"reason\": ").string(row.reason).raw("\n        }");
        separator = ",\n";
    }
    out.raw("\n    ]");
    out.raw(",\n    \"subscribers\": [");
    separator = "\n";
    for (const Subscriber& s : result.subscribers) {
        out.raw(separator).raw("        {\n            \"createdAt\": ");
        out.string(IsoDate::format(s.createdAt));
        out.raw(",\n            \"email\": ").string(s.email);
        out.raw(",\n            \"name\": ").string(s.name);
        out.raw(",\n            \"source\": ").string(s.source);
        out.raw(",\n            \"status\": ").string(rawValue(s.status)).raw("\n        }");
        separator = ",\n";
    }
    out.raw("\n    ]");
    out.raw("\n}\n");
}

} // namespace

int runImport(const QStringList& arguments) {
    Arguments args(arguments);
    const std::optional<QString> source = args.option(QStringLiteral("source"));
    const QStringList files = args.positional();
    if (files.size() != 1) {
        throw UsageError(QStringLiteral("expects one FILE (see --help)"));
    }
    const QString& path = files.first();
    const bool fromStdin = path == QLatin1String("-");
    // Like the application: the file's name without its extension labels the subscribers.
    const QString label =
        source.value_or(fromStdin ? QStringLiteral("import") : QFileInfo(path).completeBaseName());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::optional<CSVImportResult> imported;
    if (fromStdin) {
        QByteArray bytes = readFileOrStdin(std::nullopt);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        imported = CSVImporter::importFile(buffer, label, now);
    } else {
        // Streamed: a file larger than memory imports too.
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
            throw UsageError(QStringLiteral("cannot read %1: %2")
                                 .arg(path, QFileInfo(path).isDir() ? QStringLiteral("a folder")
                                                                    : file.errorString()));
        }
        imported = CSVImporter::importFile(file, label, now);
    }
    const CSVImportResult& result = *imported;
    writeResult(result);
    return exitSuccess;
}

} // namespace quillmere::cli
