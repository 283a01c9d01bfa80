// CSV import on arbitrary bytes: never crashes, and keeps what callers rely on.
//
// Built with the project under -DQUILLMERE_FUZZ=ON, or by hand from the worktree root:
//   clang++ -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined \
//     -fno-sanitize-recover=undefined -I. -I/usr/include/x86_64-linux-gnu/qt6 \
//     -I/usr/include/x86_64-linux-gnu/qt6/QtCore fuzz/fuzz_csv.cpp import/csv_importer.cpp \
//     import/csv_scanner.cpp render/email_address.cpp core/iso_date.cpp -lQt6Core \
//     -o fuzz-out/fuzz_csv
//   fuzz-out/fuzz_csv -dict=fuzz/fuzz_csv.dict fuzz-out/corpus fuzz/corpus/csv
#include "core/iso_date.h"
#include "import/csv_importer.h"
#include "render/email_address.h"

#include <QSet>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace quillmere;

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Input starting with 0xFF is taken as raw UTF-16 (which may hold lone surrogates); anything
// else as file bytes, decoded the way the application decodes a chosen file.
QString textOf(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] == 0xFF) {
        QString text(qsizetype((size - 1) / 2), Qt::Uninitialized);
        std::memcpy(text.data(), data + 1, size_t(text.size()) * sizeof(QChar));
        return text;
    }
    return CSVImporter::decodeFile(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
}

QString quoted(const QStringList& fields) {
    QStringList out;
    for (QString field : fields) {
        out.append(QLatin1Char('"') + field.replace(QLatin1String("\""), QLatin1String("\"\"")) +
                   QLatin1Char('"'));
    }
    return out.join(QLatin1Char(','));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = textOf(data, size);
    const qsizetype physicalLines =
        text.count(QLatin1Char('\n')) + text.count(QLatin1Char('\r')) + 1;

    // Records: increasing lines within the text, no carriage return left in any field, and the
    // same fields again after writing them out fully quoted.
    const QList<CSVImporter::Row> rows = CSVImporter::tokenize(text);
    QStringList rewritten;
    qsizetype previousLine = 0;
    for (const CSVImporter::Row& row : rows) {
        check(row.line > previousLine && row.line <= physicalLines, "record lines");
        check(!row.fields.isEmpty(), "record without fields");
        for (const QString& field : row.fields) {
            check(!field.contains(QLatin1Char('\r')), "carriage return in a field");
            // The steps the import applies to single fields.
            if (const auto date = CSVImporter::parseDate(field)) {
                check(date->isValid() && date->timeSpec() == Qt::UTC, "parsed date");
                check(IsoDate::parse(IsoDate::format(*date)) == date, "date round trip");
            }
            CSVImporter::mapStatus(field);
        }
        previousLine = row.line;
        rewritten.append(quoted(row.fields));
    }
    const QList<QStringList> fields = CSVImporter::parseRows(text);
    check(fields.size() == rows.size(), "parseRows size");
    check(CSVImporter::parseRows(rewritten.join(QLatin1Char('\n'))) == fields, "quoted rewrite");

    // The import.
    const QDateTime now(QDate(2025, 3, 14), QTime(9, 26, 53, 589), Qt::UTC);
    const CSVImportResult result = CSVImporter::importCSV(text, QStringLiteral("import"), now);
    if (rows.isEmpty()) {
        check(result == CSVImportResult{}, "empty text");
        return 0;
    }
    check(result.format == CSVImporter::detectFormat(rows.first().fields), "format");
    const QString label = QStringLiteral("import:") + rawValue(result.format);
    QSet<QString> emails;
    for (const Subscriber& s : result.subscribers) {
        check(EmailAddress::isValid(s.email) && s.email == s.email.toLower() &&
                  s.email == s.email.trimmed(),
              "subscriber address");
        check(!emails.contains(s.email), "repeated address");
        emails.insert(s.email);
        check(!s.id.isNull() && s.source == label && s.updatedAt == now, "subscriber record");
        check(s.createdAt.isValid() && s.createdAt.timeSpec() == Qt::UTC, "createdAt");
    }
    previousLine = rows.first().line - 1;
    for (const SkippedRow& skipped : result.skipped) {
        check(skipped.line > previousLine && skipped.line <= physicalLines, "skipped lines");
        previousLine = skipped.line;
    }
    const qsizetype dataRows = rows.size() - 1;
    check(result.subscribers.size() + result.skipped.size() + result.duplicates <=
              qMax<qsizetype>(dataRows, 1),
          "counted rows");
    check(result.confirmedElsewhere + result.assumedActive <= result.subscribers.size(),
          "status counters");
    check(result.assumedActive == 0 || result.format == CSVFormat::generic, "assumedActive");
    return 0;
}
