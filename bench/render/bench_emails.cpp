// Personalised emails per second on one core: the longest sample issue rendered for one reader
// and built into a raw MIME message, as a list send does for every reader. Shows the straight
// pipeline (render + MIME per reader) and the issue-level batch (reader-independent work once).
//
//   bench_emails [READERS]

#include "core/sample_data.h"
#include "render/reader_message.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace quillmere;

namespace {

qint64 cpuNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    const Library& library = SampleData::library();
    const Newsletter& issue = library.newsletters.last(); // issue 103, the longest
    const QString secret = QStringLiteral("0123456789abcdef0123456789abcdef");
    const QDateTime date = QDateTime::currentDateTimeUtc();

    QList<Subscriber> readers;
    readers.reserve(count);
    for (int i = 0; i < count; ++i) {
        Subscriber s = library.subscribers[i % library.subscribers.size()];
        s.id = QUuid::createUuid();
        s.email = QStringLiteral("reader%1.%2").arg(i).arg(s.email);
        readers.append(s);
    }

    qint64 bytes = 0;
    qint64 t0 = cpuNanoseconds();
    for (const Subscriber& r : readers) {
        bytes += ReaderMessage::build(issue, library.profile, r, secret, date, std::nullopt).size();
    }
    const double straight = double(cpuNanoseconds() - t0) / 1e9;

    qint64 batchBytes = 0;
    t0 = cpuNanoseconds();
    const ReaderMessage::Batch batch(issue, library.profile, secret);
    for (const Subscriber& r : readers) {
        batchBytes += batch.build(r, date, std::nullopt).size();
    }
    const double batched = double(cpuNanoseconds() - t0) / 1e9;

    std::printf("issue 103 (%lld characters of Markdown, %s template), %d readers, "
                "%.1f KB per message\n",
                static_cast<long long>(issue.markdown.size()),
                qPrintable(rawValue(issue.emailTemplate)), count, double(bytes) / count / 1024.0);
    std::printf("straight render + MIME: %8.0f emails/s (%.1f us each)\n", count / straight,
                straight / count * 1e6);
    std::printf("issue-level batch:      %8.0f emails/s (%.1f us each; same bytes: %s)\n",
                count / batched, batched / count * 1e6, bytes == batchBytes ? "yes" : "NO");
    std::printf("target: at least 10000 emails/s on one core\n");
    return bytes == batchBytes ? 0 : 1;
}
