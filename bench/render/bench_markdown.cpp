// Markdown parse and render throughput on a realistic 2 MB corpus, side by side with cmark on the
// same bytes. Both sides take UTF-8 in and give UTF-8 out; the best of several rounds counts.
//
//   bench_markdown [MEGABYTES] [ROUNDS]

#include "realistic_corpus.h"
#include "render/markdown_renderer.h"

#include <algorithm>
#include <cmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace quillmere;

namespace {

// CPU time of this thread: what the work costs on one core, whatever else the machine runs.
qint64 cpuNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    const QByteArray corpus = realisticCorpus(qsizetype(megabytes * 1024 * 1024));
    const double mb = double(corpus.size()) / (1024.0 * 1024.0);

    // Each side runs its rounds back to back, so each works with its own warm heap and neither
    // pays for the other's frees; the best round counts.
    qint64 oursBest = -1;
    qsizetype oursOut = 0;
    for (int r = 0; r < rounds; ++r) {
        const qint64 t0 = cpuNanoseconds();
        const QByteArray html = MarkdownRenderer::html(QString::fromUtf8(corpus)).toUtf8();
        const qint64 ours = cpuNanoseconds() - t0;
        oursOut = html.size();
        oursBest = oursBest < 0 ? ours : std::min(oursBest, ours);
    }
    qint64 cmarkBest = -1;
    size_t cmarkOut = 0;
    for (int r = 0; r < rounds; ++r) {
        const qint64 t0 = cpuNanoseconds();
        char* out =
            cmark_markdown_to_html(corpus.constData(), size_t(corpus.size()), CMARK_OPT_DEFAULT);
        const qint64 theirs = cpuNanoseconds() - t0;
        cmarkOut = std::strlen(out);
        std::free(out);
        cmarkBest = cmarkBest < 0 ? theirs : std::min(cmarkBest, theirs);
    }
    const double oursRate = mb / (double(oursBest) / 1e9);
    const double cmarkRate = mb / (double(cmarkBest) / 1e9);
    std::printf(
        "corpus: %.2f MB of Markdown (%lld bytes), best of %d rounds, CPU time of one thread\n", mb,
        static_cast<long long>(corpus.size()), rounds);
    std::printf("quillmere: %7.1f MB/s  (%.2f ms, %lld bytes of HTML)\n", oursRate,
                double(oursBest) / 1e6, static_cast<long long>(oursOut));
    std::printf("cmark %s: %7.1f MB/s  (%.2f ms, %zu bytes of HTML)\n", cmark_version_string(),
                cmarkRate, double(cmarkBest) / 1e6, cmarkOut);
    std::printf("ratio quillmere/cmark: %.2fx (target at least 1.0x)\n", oursRate / cmarkRate);
    return 0;
}
