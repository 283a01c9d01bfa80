// quillmere-cli's check, token and verify commands, run as a script would run them.
#include "core/library_file.h"
#include "core/sample_data.h"
#include "render/reader_links.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code;
    QString out;
    QString err;
};

Run cli(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(QUILLMERE_BINARY_DIR "/cli/quillmere-cli"), arguments);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestCliWorkflow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void checkListsFindingsAndExitsOnBlocking() {
        const QString path = m_dir.filePath(u"library.json"_s);
        LibraryFile::write(path, SampleData::library());
        const Run clean = cli({"check", "--library", path, "--issue", "first"});
        QCOMPARE(clean.code, 0);
        QCOMPARE(clean.out, QString());

        Library bare = SampleData::library();
        bare.profile = SenderProfile();
        bare.profile.fromEmail = u"ann@elsewhere.example"_s;
        bare.profile.domain = u"quietworkshop.news"_s;
        bare.profile.workerBaseURL = u"http://worker.example"_s;
        LibraryFile::write(path, bare);
        const Run blocked = cli({"check", "--library", path, "--issue",
                                 SampleData::sampleID(103).toString(QUuid::WithoutBraces)});
        QCOMPARE(blocked.code, 1);
        QCOMPARE(blocked.out,
                 QStringLiteral(
                     "blocking postal-address: Add a physical postal address. CAN-SPAM requires it "
                     "in every email footer.\n"
                     "blocking from-domain: The From address uses elsewhere.example, but the "
                     "verified domain is quietworkshop.news.\n"
                     "advisory worker-https: The worker URL should use https so unsubscribe links "
                     "are trusted.\n"
                     "advisory publication-name: Name your publication so readers recognize it in "
                     "the footer.\n"));

        QCOMPARE(cli({"check", "--library", path, "--issue", "nope"}).code, 2);
    }

    void tokensRoundTrip() {
        const Run token = cli({"token", "--purpose", "unsubscribe", "--email", " Ann@Example.com ",
                               "--secret", "s3cret"});
        QCOMPARE(token.code, 0);
        QCOMPARE(token.out.trimmed(),
                 ReaderLinks::unsubscribeToken(u"ann@example.com"_s, u"s3cret"_s));
        const QString t = token.out.trimmed();
        QCOMPARE(
            cli({"verify", "--purpose", "unsubscribe", "--token", t, "--secret", "s3cret"}).out,
            u"ann@example.com\n"_s);
        QCOMPARE(
            cli({"verify", "--purpose", "unsubscribe", "--token", t, "--secret", "other"}).code, 1);
    }
};

QTEST_GUILESS_MAIN(TestCliWorkflow)
#include "tst_cli_workflow.moc"
