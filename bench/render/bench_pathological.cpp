// Pathological Markdown: inputs that make naive parsers quadratic or exhaust their stack. Each
// shape is parsed and rendered (HTML and plain text from the tree, and HTML in one pass) at
// doubling sizes, best of three runs of CPU time; linear time shows as a ratio near 2 between
// consecutive sizes.
//
//   bench_pathological [LARGEST_KB]

#include "render/markdown_renderer.h"
#include "render/md_block_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <malloc.h>

using namespace quillmere;

namespace {

qint64 cpuNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString repeatTo(const QString& unit, qsizetype size) {
    return unit.repeated(std::max<qsizetype>(1, size / unit.size()));
}

} // namespace

int main(int argc, char** argv) {
    // Keep freed memory in the process: otherwise a run may pay for the operating system mapping
    // fresh pages (costly in virtual machines), which hides how the work itself grows.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    const qsizetype largest = (argc > 1 ? std::atoi(argv[1]) : 512) * 1024;
    struct Shape {
        const char* name;
        std::function<QString(qsizetype)> make;
    };
    const Shape shapes[] = {
        {"nested [", [](qsizetype n) { return repeatTo(QStringLiteral("["), n); }},
        {"nested [ closed",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("["), n / 2) + repeatTo(QStringLiteral("]"), n / 2);
         }},
        {"nested images",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("!["), n / 2) + QStringLiteral("a") +
                    repeatTo(QStringLiteral("](u)"), n / 2);
         }},
        {"nested >",
         [](qsizetype n) { return repeatTo(QStringLiteral(">"), n) + QStringLiteral(" x"); }},
        {"nested > lines",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("> "), n / 2) + QStringLiteral("x\n") +
                    repeatTo(QStringLiteral("> "), n / 2) + QStringLiteral("y");
         }},
        {"nested list markers",
         [](qsizetype n) { return repeatTo(QStringLiteral("- "), n) + QStringLiteral("x"); }},
        {"nested ordered markers",
         [](qsizetype n) { return repeatTo(QStringLiteral("1. "), n) + QStringLiteral("x"); }},
        {"nested markers and rule-like",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("- "), n / 2) + repeatTo(QStringLiteral("-"), n / 2) +
                    QStringLiteral(" x");
         }},
        {"run of *", [](qsizetype n) { return repeatTo(QStringLiteral("*"), n); }},
        {"run of _", [](qsizetype n) { return repeatTo(QStringLiteral("_"), n); }},
        {"run of ~", [](qsizetype n) { return repeatTo(QStringLiteral("~"), n); }},
        {"run of backticks", [](qsizetype n) { return repeatTo(QStringLiteral("`"), n); }},
        {"*a openers", [](qsizetype n) { return repeatTo(QStringLiteral("*a "), n); }},
        {"_a openers", [](qsizetype n) { return repeatTo(QStringLiteral("_a "), n); }},
        {"~~a openers", [](qsizetype n) { return repeatTo(QStringLiteral("~~a "), n); }},
        {"**a *b nesting",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("**a *b "), n / 2) +
                    repeatTo(QStringLiteral("c** d*"), n / 2);
         }},
        {"backtick runs of growing length",
         [](qsizetype n) {
             QString s;
             for (int k = 1; s.size() < n; ++k) {
                 s += QString(k, u'`') + QStringLiteral("a");
             }
             return s;
         }},
        {"unclosed links", [](qsizetype n) { return repeatTo(QStringLiteral("[a]("), n); }},
        {"unclosed angle links",
         [](qsizetype n) { return repeatTo(QStringLiteral("[a](<b "), n); }},
        {"unclosed titles", [](qsizetype n) { return repeatTo(QStringLiteral("[a](b \""), n); }},
        {"links sharing a destination",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("[a](b"), n / 2) + QString(n / 2, u' ') +
                    QStringLiteral("x");
         }},
        {"unclosed autolinks", [](qsizetype n) { return repeatTo(QStringLiteral("<a"), n); }},
        {"backslashes",
         [](qsizetype n) { return repeatTo(QStringLiteral("\\"), n) + QStringLiteral("*a*"); }},
        {"code spans across brackets",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("[`"), n / 2) +
                    repeatTo(QStringLiteral("](x) `"), n / 2);
         }},
        {"long spaces after markers",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("- "), n / 4) + QString(n / 2, u' ') +
                    QStringLiteral("x");
         }},
        {"fence-like lazy lines",
         [](qsizetype n) {
             return repeatTo(QStringLiteral("> "), n / 4) + QStringLiteral("x\n```") +
                    QString(n / 2, u'a') + QStringLiteral("`");
         }},
        {"many blank lines in a list",
         [](qsizetype n) {
             return QStringLiteral("- a\n") + QString(n, u'\n') + QStringLiteral("  b");
         }},
    };
    std::printf("%-34s", "shape \\ size");
    for (qsizetype size = largest / 16; size <= largest; size *= 2) {
        std::printf(" %9lldK", static_cast<long long>(size / 1024));
    }
    std::printf("   growth per doubling\n");
    double worst = 0;
    for (const Shape& shape : shapes) {
        std::printf("%-34s", shape.name);
        double previous = 0;
        double growth = 0;
        for (qsizetype size = largest / 16; size <= largest; size *= 2) {
            const QString input = shape.make(size);
            // Best of three: the first run of a size also pays for the operating system handing
            // over fresh memory, which says nothing about the parser.
            double ms = 0;
            for (int round = 0; round < 3; ++round) {
                const qint64 t0 = cpuNanoseconds();
                const QList<MDBlock> blocks = MDBlockParser::parse(input);
                const QString html = MarkdownRenderer::html(blocks);
                const QString plain = MarkdownRenderer::plainText(blocks);
                const QString onePass = MarkdownRenderer::html(input);
                const double t = double(cpuNanoseconds() - t0) / 1e6;
                ms = round == 0 ? t : std::min(ms, t);
            }
            std::printf(" %8.2fms", ms);
            if (previous > 0.5) {
                growth = std::max(growth, ms / previous);
            }
            previous = ms;
        }
        worst = std::max(worst, growth);
        std::printf("   %.2f\n", growth);
    }
    std::printf("largest growth per doubling: %.2f (linear is about 2)\n", worst);
    return 0;
}
