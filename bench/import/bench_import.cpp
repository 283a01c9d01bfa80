// Imports a generated export of a million readers and prints the time and peak memory.
//   bench_import [rows] [generic|mailchimp|all]   (default: 1000000 all)
// Build with BUILD_DIR=build-release BUILD_TYPE=Release scripts/build.
#include "import/csv_importer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <sys/resource.h>

using namespace quillmere;

namespace {

// Kilobytes from /proc/self/status ("VmHWM" peak, "VmRSS" current).
long statusKilobytes(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

// User and system processor time of the process so far, in milliseconds (unlike the wall clock
// it does not grow when other work shares the machine), and the page faults so far (first
// touches of fresh memory, which cost more than the parsing on some virtual machines).
struct Usage {
    qint64 cpuMs;
    qint64 faults;
};

Usage usageNow() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return {ms(usage.ru_utime) + ms(usage.ru_stime), qint64(usage.ru_minflt + usage.ru_majflt)};
}

// Restarts the peak at the current resident size (Linux: "5" to clear_refs).
void resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly)) {
        refs.write("5");
    }
}

const char* const firstNames[] = {"Ada",  "Theo", "Inés", "Rui", "Mina", "June", "Kofi",
                                  "Lena", "Sam",  "Pat",  "Ola", "Wei",  "Zoë",  "Marc"};
const char* const lastNames[] = {"Quill",    "Marsh",  "Varga",  "Okafor", "Park",
                                 "Holloway", "Mensah", "Brandt", "Ortiz",  "Nguyen"};
const char* const domains[] = {"example.com", "example.org", "example.net", "mail.example.co.uk"};

// A realistic list: 1 % repeats an earlier reader, 0.5 % has a broken address, some names
// carry commas and quotes, statuses and dates vary.
QByteArray generate(qsizetype rows, bool mailchimp) {
    QByteArray out;
    out.reserve(rows * (mailchimp ? 200 : 100));
    out += mailchimp ? "\xEF\xBB\xBF"
                       "Email Address,First Name,Last Name,Address,Phone Number,MEMBER_RATING,"
                       "OPTIN_TIME,OPTIN_IP,CONFIRM_TIME,CONFIRM_IP,LATITUDE,LONGITUDE,CC,"
                       "LAST_CHANGED,LEID,EUID,NOTES,TAGS\r\n"
                     : "email,first_name,last_name,status,created_at,utm_source\n";
    const char* const statuses[] = {"active",       "active",  "active",
                                    "Unsubscribed", "pending", "cleaned"};
    for (qsizetype i = 0; i < rows; ++i) {
        const qsizetype reader = (i % 100 == 99) ? i / 2 : i;
        const char* first = firstNames[reader % 14];
        const char* last = lastNames[reader % 10];
        QByteArray email = QByteArray(last).toLower() + '.' + QByteArray::number(reader) + '@' +
                           domains[reader % 4];
        if (i % 200 == 7) {
            email.replace('@', ' ');
        }
        const QByteArray day = "2023-" + QByteArray::number(1 + i % 12).rightJustified(2, '0') +
                               '-' + QByteArray::number(1 + i % 28).rightJustified(2, '0') + ' ' +
                               QByteArray::number(i % 24).rightJustified(2, '0') + ":15:42";
        if (mailchimp) {
            out += email + ',' + first + ',';
            out += (i % 10 == 3) ? QByteArray("\"") + last + ", Jr.\"" : QByteArray(last);
            out += ",\"12 Harbour Rd  Wellington 6011 NZ\",,";
            out += QByteArray::number(1 + i % 5) + ",\"" + day + "\",203.0.113.5,\"" + day +
                   "\",203.0.113.5,-41.28,174.77,NZ,\"" + day + "\"," +
                   QByteArray::number(118234000 + i) + ",a1b2c3d4e5,,";
            out += (i % 7 == 0) ? "\"\"\"Founding reader\"\",Poetry\"" : "";
            out += "\r\n";
        } else {
            out += email + ',' + first + ',' + last + ',' + statuses[i % 6] + ',' + day + " UTC," +
                   (i % 3 == 0 ? "twitter" : "") + '\n';
        }
    }
    return out;
}

int runCase(qsizetype rows, bool mailchimp) {
    QTemporaryFile file;
    {
        const QByteArray bytes = generate(rows, mailchimp);
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()) {
            std::fprintf(stderr, "cannot write the generated file\n");
            return 1;
        }
        file.close();
    }
    resetPeak();
    const long baseline = statusKilobytes("VmRSS");

    QElapsedTimer timer;
    timer.start();
    const Usage start = usageNow();
    QFile input(file.fileName());
    if (!input.open(QIODevice::ReadOnly)) {
        return 1;
    }
    QByteArray bytes = input.readAll();
    const qint64 readMs = timer.elapsed();
    QString text = CSVImporter::decodeFile(bytes);
    const qsizetype fileSize = bytes.size();
    bytes = QByteArray();
    const qint64 decodeMs = timer.elapsed();
    const Usage decoded = usageNow();
    const CSVImportResult result = CSVImporter::importCSV(text, QStringLiteral("import"));
    const qint64 totalMs = timer.elapsed();
    const Usage end = usageNow();
    const long peak = statusKilobytes("VmHWM");

    std::printf("%s export: %lld rows, %.1f MB file\n", mailchimp ? "Mailchimp" : "Beehiiv-like",
                static_cast<long long>(rows), double(fileSize) / 1e6);
    std::printf(
        "  read %lld ms, decode %lld ms, import %lld ms, total %lld ms (processor %lld ms)\n",
        static_cast<long long>(readMs), static_cast<long long>(decodeMs - readMs),
        static_cast<long long>(totalMs - decodeMs), static_cast<long long>(totalMs),
        static_cast<long long>(end.cpuMs - start.cpuMs));
    std::printf("  page faults: %lld reading and decoding, %lld importing\n",
                static_cast<long long>(decoded.faults - start.faults),
                static_cast<long long>(end.faults - decoded.faults));
    std::printf("  %lld subscribers, %lld skipped, %lld duplicates, format %s\n",
                static_cast<long long>(result.subscribers.size()),
                static_cast<long long>(result.skipped.size()),
                static_cast<long long>(result.duplicates), qPrintable(rawValue(result.format)));
    std::printf("  peak RSS %.1f MB (%.1f MB above the %.1f MB before reading)\n", peak / 1024.0,
                (peak - baseline) / 1024.0, baseline / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const qsizetype rows = args.size() > 1 ? args[1].toLongLong() : 1'000'000;
    const QString which = args.size() > 2 ? args[2] : QStringLiteral("all");
    int status = 0;
    // One case per run gives each a clean peak: memory freed by a first case stays with the
    // process.
    if (which != QLatin1String("mailchimp")) {
        status |= runCase(rows, false);
    }
    if (which != QLatin1String("generic")) {
        status |= runCase(rows, true);
    }
    return status;
}
