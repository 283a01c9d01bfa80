// Imports a generated export of a million readers and prints the time and peak memory: through
// the importer alone (streamed from the file), and through the application model, whose
// interface thread keeps a 5 ms timer running meanwhile (its longest wait is the longest stall).
//   bench_import [rows] [generic|mailchimp|all] [importer|app|all]   (default: 1000000 all all)
// A 500 MB file is about 2,500,000 Mailchimp rows. Run by scripts/bench (a Release build).
#include "app/app_model.h"
#include "core/memory_credential_store.h"
#include "import/csv_importer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <qcoro/qcorotask.h>

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

// The file of one case, written before anything is measured.
struct Generated {
    QTemporaryDir dir;
    QString path;
    qint64 size = 0;
};

bool generateFile(Generated& out, qsizetype rows, bool mailchimp) {
    out.path = out.dir.filePath(QStringLiteral("export.csv"));
    QFile file(out.path);
    const QByteArray bytes = generate(rows, mailchimp);
    out.size = bytes.size();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void printPeak(long baseline, qint64 fileSize) {
    const long peak = statusKilobytes("VmHWM");
    std::printf("  peak RSS %.1f MB (%.1f MB above the %.1f MB before reading; %.2fx the file)\n",
                peak / 1024.0, (peak - baseline) / 1024.0, baseline / 1024.0,
                (peak - baseline) * 1024.0 / double(fileSize));
}

int runImporter(qsizetype rows, bool mailchimp) {
    Generated file;
    if (!generateFile(file, rows, mailchimp)) {
        return 1;
    }
    resetPeak();
    const long baseline = statusKilobytes("VmRSS");
    QElapsedTimer timer;
    timer.start();
    const Usage start = usageNow();
    QFile input(file.path);
    if (!input.open(QIODevice::ReadOnly)) {
        return 1;
    }
    const CSVImportResult result =
        *CSVImporter::importFile(input, QStringLiteral("import"), QDateTime::currentDateTimeUtc());
    const qint64 totalMs = timer.elapsed();
    const Usage end = usageNow();
    std::printf("%s export through the importer: %lld rows, %.1f MB file\n",
                mailchimp ? "Mailchimp" : "Beehiiv-like", static_cast<long long>(rows),
                double(file.size) / 1e6);
    std::printf("  %lld ms (processor %lld ms, %lld page faults)\n",
                static_cast<long long>(totalMs), static_cast<long long>(end.cpuMs - start.cpuMs),
                static_cast<long long>(end.faults - start.faults));
    std::printf("  %lld subscribers, %lld skipped, %lld duplicates, format %s\n",
                static_cast<long long>(result.subscribers.size()),
                static_cast<long long>(result.skipped.size()),
                static_cast<long long>(result.duplicates), qPrintable(rawValue(result.format)));
    printPeak(baseline, file.size);
    return 0;
}

QCoro::Task<int> runApp(qsizetype rows, bool mailchimp) {
    Generated file;
    if (!generateFile(file, rows, mailchimp)) {
        co_return 1;
    }
    AppModel::Dependencies d;
    d.store = std::make_shared<LibraryStore>(file.dir.filePath(QStringLiteral("library.json")));
    d.credentials = std::make_shared<MemoryCredentialStore>();
    d.settings = std::make_shared<QSettings>(file.dir.filePath(QStringLiteral("s.ini")),
                                             QSettings::IniFormat);
    d.arguments = QStringList{QStringLiteral("bench")};
    AppModel model(std::move(d));
    co_await model.start();
    resetPeak();
    const long baseline = statusKilobytes("VmRSS");

    QTimer ticker;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    clock.start();
    ticker.start();
    co_await model.importCSV(file.path);
    const qint64 importMs = clock.elapsed();
    model.flushPendingSave(); // the save of the imported list, off the interface thread too
    ticker.stop();
    std::printf("%s export through the application: %lld rows, %.1f MB file\n",
                mailchimp ? "Mailchimp" : "Beehiiv-like", static_cast<long long>(rows),
                double(file.size) / 1e6);
    std::printf("  imported in %lld ms: %s\n", static_cast<long long>(importMs),
                qPrintable(model.statusMessage().value_or(QString())));
    std::printf("  interface thread longest wait %lld ms (a 5 ms timer)\n",
                static_cast<long long>(worst));
    printPeak(baseline, file.size);
    co_return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const qsizetype rows = args.size() > 1 ? args[1].toLongLong() : 1'000'000;
    const QString format = args.size() > 2 ? args[2] : QStringLiteral("all");
    const QString mode = args.size() > 3 ? args[3] : QStringLiteral("all");
    // Each case in a process of its own gives it a clean peak: memory freed by an earlier
    // case stays with the process.
    if (format == QLatin1String("all") || mode == QLatin1String("all")) {
        int status = 0;
        for (const char* f : {"generic", "mailchimp"}) {
            for (const char* m : {"importer", "app"}) {
                if ((format == QLatin1String("all") || format == QLatin1String(f)) &&
                    (mode == QLatin1String("all") || mode == QLatin1String(m))) {
                    status |=
                        QProcess::execute(args[0], {QString::number(rows), QString::fromLatin1(f),
                                                    QString::fromLatin1(m)});
                }
            }
        }
        return status;
    }
    const bool mailchimp = format == QLatin1String("mailchimp");
    if (mode == QLatin1String("importer")) {
        return runImporter(rows, mailchimp);
    }
    int status = 1;
    auto task = [&]() -> QCoro::Task<void> {
        status = co_await runApp(rows, mailchimp);
        QCoreApplication::quit();
    };
    auto running = task();
    app.exec();
    return status;
}
