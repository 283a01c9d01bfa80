#include "render/reader_links.h"

#include <QRegularExpression>
#include <QTest>

using namespace quillmere;

class TestReaderLinks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Expected values computed independently with Python's hmac and base64 modules.
    void tokens() {
        QCOMPARE(ReaderLinks::unsubscribeToken(u"Ann@Example.com "_qs, u"s3cret"_qs),
                 u"YW5uQGV4YW1wbGUuY29t."
                 "f26d84a0498675a4759f8b4c801ef0e7bdedf9955d662fac3a84580c7a8e54c7"_qs);
        QCOMPARE(ReaderLinks::confirmToken(u"ann@example.com"_qs, u"s3cret"_qs),
                 u"YW5uQGV4YW1wbGUuY29t."
                 "512a84641542e69a390dff20cd7fc38a368bd4d3e2eb9f9ed6d338fd31572d19"_qs);
        // URL-safe alphabet, no padding, UTF-8 of a non-ASCII address.
        QCOMPARE(ReaderLinks::unsubscribeToken(u"zo\u00eb+x@ex\u00e4mple.com"_qs, u"k"_qs),
                 u"em_Dqyt4QGV4w6RtcGxlLmNvbQ."
                 "27191202d022f4cfc718fc8f80f717c34bce1a17e34bf14d0af0bb445a5ddf70"_qs);
    }

    void verify() {
        const QString t = ReaderLinks::unsubscribeToken(u" Ann@Example.com"_qs, u"s3cret"_qs);
        QCOMPARE(ReaderLinks::verify(t, u"unsubscribe"_qs, u"s3cret"_qs), u"ann@example.com"_qs);
        QCOMPARE(ReaderLinks::verify(t, u"confirm"_qs, u"s3cret"_qs), std::nullopt);
        QCOMPARE(ReaderLinks::verify(t, u"unsubscribe"_qs, u"other"_qs), std::nullopt);
        QString tampered = t;
        tampered[tampered.size() - 1] = tampered.endsWith(u'0') ? u'1' : u'0';
        QCOMPARE(ReaderLinks::verify(tampered, u"unsubscribe"_qs, u"s3cret"_qs), std::nullopt);
        const QString hex = t.mid(t.indexOf(u'.'));
        // Another address with the same code, padding, case, non-ASCII.
        for (const QString& token :
             {QString(), u"."_qs, t + u".x"_qs, u"!!!"_qs + hex, u"YW5u"_qs + hex,
              u"YW5uQGV4YW1wbGUuY29t="_qs + hex, t.toUpper(), u"\u00e9"_qs + hex}) {
            QCOMPARE(ReaderLinks::verify(token, u"unsubscribe"_qs, u"s3cret"_qs), std::nullopt);
        }
        // A token for an address that is not normalised is never issued, so never accepted.
        const QString upper = QString::fromLatin1(
            QByteArray("Ann@example.com")
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        QCOMPARE(ReaderLinks::verify(upper + hex, u"unsubscribe"_qs, u"s3cret"_qs), std::nullopt);
    }

    void links() {
        const QString secret = u"s"_qs;
        const QString token = ReaderLinks::unsubscribeToken(u"a@b.co"_qs, secret);
        QCOMPARE(
            ReaderLinks::unsubscribeURL(u" https://w.example.dev/// "_qs, u"a@b.co"_qs, secret),
            ReaderLinks::unsubscribeURL(u"https://w.example.dev"_qs, u"a@b.co"_qs, secret));
        QCOMPARE(ReaderLinks::confirmURL(u"https://w.example.dev/"_qs, u"a@b.co"_qs, secret)
                     .toString(QUrl::FullyEncoded),
                 u"https://w.example.dev/confirm?t="_qs +
                     ReaderLinks::confirmToken(u"a@b.co"_qs, secret));
        // Bases that give no web address fall back to the reserved host.
        for (const QString& base : {u"not a url"_qs, u"javascript:alert(1)"_qs,
                                    u"ftp://x.example"_qs, u"mailto:a@b.co"_qs, u"/relative"_qs}) {
            QCOMPARE(ReaderLinks::unsubscribeURL(base, u"a@b.co"_qs, secret)
                         .toString(QUrl::FullyEncoded),
                     u"https://unsubscribe.quillmere.invalid/unsubscribe?t="_qs + token);
        }
        QCOMPARE(ReaderLinks::linkBase(u"  "_qs), ReaderLinks::placeholderWorkerBase);
    }

    void archive() {
        for (const QString& base : {QString(), u" / "_qs, u"javascript:x"_qs}) {
            QCOMPARE(ReaderLinks::archiveURL(base, u"slug-5a3d00"_qs), std::nullopt);
        }
        QCOMPARE(ReaderLinks::archiveURL(u"https://w.example.dev//"_qs, u"slug-5a3d00"_qs)
                     ->toString(QUrl::FullyEncoded),
                 u"https://w.example.dev/archive/slug-5a3d00"_qs);
    }

    void randomSecrets() {
        static const QRegularExpression hex(u"^[0-9a-f]{64}$"_qs);
        const QString a = ReaderLinks::randomSecret();
        QVERIFY(hex.match(a).hasMatch());
        QVERIFY(a != ReaderLinks::randomSecret());
    }
};

QTEST_APPLESS_MAIN(TestReaderLinks)
#include "tst_reader_links.moc"
