#include "core/sample_data.h"
#include "render/reader_links.h"
#include "render/reader_message.h"
#include "render/template_renderer.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace quillmere;

namespace {

const QDateTime kDate(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC);

QByteArray withoutMessageID(QByteArray message) {
    static const QRegularExpression id(u"Message-ID: <[^>]*>"_qs);
    return QString::fromUtf8(message).replace(id, u"Message-ID: <>"_qs).toUtf8();
}

const Newsletter& sampleIssue(int number) {
    return *SampleData::library().issue(SampleData::sampleID(number));
}

} // namespace

class TestReaderMessage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void contexts() {
        const Library& library = SampleData::library();
        const Subscriber& ada = library.subscribers.first();
        const RenderContext c =
            ReaderMessage::context(sampleIssue(101), library.profile, ada, u"secret"_qs);
        QCOMPARE(c.recipient, ada);
        QCOMPARE(c.unsubscribeURL.toString(QUrl::FullyEncoded),
                 library.profile.workerBaseURL + u"/unsubscribe?t="_qs +
                     ReaderLinks::unsubscribeToken(ada.email, u"secret"_qs));
        QCOMPARE(c.archiveURL->toString(QUrl::FullyEncoded),
                 library.profile.workerBaseURL + u"/archive/"_qs + sampleIssue(101).slug());
        QCOMPARE(c.mediaBase, library.profile.workerBaseURL);

        // Without a reader or a deployed worker, links go to the placeholders and no archive.
        SenderProfile profile = SampleData::profile();
        profile.workerBaseURL.clear();
        const RenderContext none =
            ReaderMessage::context(sampleIssue(103), profile, std::nullopt, u"secret"_qs);
        QVERIFY(!none.recipient && !none.archiveURL);
        QCOMPARE(
            none.unsubscribeURL.toString(QUrl::FullyEncoded),
            ReaderLinks::placeholderWorkerBase + u"/unsubscribe?t="_qs +
                ReaderLinks::unsubscribeToken(ReaderLinks::placeholderReaderAddress, u"secret"_qs));

        const Subscriber preview = ReaderMessage::previewReader(kDate);
        QCOMPARE(preview.email, ReaderLinks::placeholderReaderAddress);
        QCOMPARE(preview.name, u"Alex"_qs);
        QVERIFY(preview.id != ReaderMessage::previewReader(kDate).id);
    }

    // The issue-level batch gives every reader exactly the message of the straight pipeline,
    // also with tags in every part, text holding the batch's own slot marks, and nothing at all.
    void batchMatchesTheStraightPipeline() {
        const Library& library = SampleData::library();
        QList<Subscriber> readers = library.subscribers;
        Subscriber odd = readers.first();
        odd.email = u"odd+tag@example.org"_qs;
        QStringList names{u"  \u00c9mile \"*x*\" <b> {{email}} PWXPLACEHOLDEREMAILX "_qs, QString(),
                          u"\u00e9\U0001F600\n"_qs, u"*x* [l](https://e) & {{name}}"_qs};
        QRandomGenerator rng(5);
        for (int i = 0; i < 20; ++i) {
            names.append(QString());
            for (int k = rng.bounded(12); k > 0; --k) {
                names.last() += QChar(u"aZ <>&'\"*_[](){}\u00e9 "[rng.bounded(19)]);
            }
        }
        for (const QString& name : names) {
            odd.name = name;
            readers.append(odd);
        }
        readers.last().email = u" Up@Case.CO "_qs;
        readers.append(ReaderMessage::previewReader(kDate));
        QList<Newsletter> issues;
        for (Newsletter n : library.newsletters) {
            n.subject += u" for {{name}}"_qs;
            n.markdown += u"\n\n![A picture](media/0123456789abcdef.jpg)"_qs;
            issues.append(n);
        }
        Newsletter& tagged = issues.emplaceBack(issues.first());
        tagged.subject = u"{{NAME}}'s & {{email}} <news>"_qs;
        tagged.previewText = u"{{ name }} {{email}}"_qs;
        tagged.markdown = u"# Hi {{name}}\n\n> {{email}} `{{name}}`\n\n- [{{name}}](https://x/"
                          "{{email}})\n\n```{{name}}\n{{email}}\n```\nPWXPLACEHOLDERX"_qs;
        issues.emplaceBack(issues.first()).markdown = u"odd \ufdd0s\ufdd1 marks {{name}}"_qs;
        Newsletter& empty = issues.emplaceBack(issues.first());
        empty.subject = empty.previewText = empty.markdown = QString();
        // Without a sender name or worker, and with the batch's slot marks in the names.
        const SenderProfile bare{.publicationName = u"P"_qs, .fromEmail = u"p@x.co"_qs};
        const SenderProfile marked{.publicationName = u"P \ufdd0u\ufdd1"_qs,
                                   .fromName = u"M \ufdd0"_qs,
                                   .fromEmail = u"p@x.co"_qs};
        for (EmailTemplate look :
             {EmailTemplate::plain, EmailTemplate::editorial, EmailTemplate::letter}) {
            for (Newsletter n : issues) {
                n.emailTemplate = look;
                for (const SenderProfile& profile : {library.profile, bare, marked}) {
                    const ReaderMessage::Batch batch(n, profile, u"secret"_qs);
                    for (const Subscriber& r : readers) {
                        QCOMPARE(batch.render(r), TemplateRenderer::render(ReaderMessage::context(
                                                      n, profile, r, u"secret"_qs)));
                        QCOMPARE(withoutMessageID(batch.build(r, kDate, u"B"_qs)),
                                 withoutMessageID(ReaderMessage::build(n, profile, r, u"secret"_qs,
                                                                       kDate, u"B"_qs)));
                    }
                    QCOMPARE(batch.render(std::nullopt)
                                 .html.contains(u"/media/0123456789abcdef.jpg\""_qs),
                             !profile.workerBaseURL.isEmpty() && n.markdown.contains(u"media/"));
                    QCOMPARE(batch.render(std::nullopt),
                             TemplateRenderer::render(
                                 ReaderMessage::context(n, profile, std::nullopt, u"secret"_qs)));
                }
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestReaderMessage)
#include "tst_reader_message.moc"
