#include "render/email_address.h"

#include <QTest>

using namespace quillmere;

class TestEmailAddress : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valid() {
        const QString local64(64, u'a');
        const QString labels = QString(63, u'b') + u'.' + QString(63, u'b') + u'.';
        // Surrounding white space, every allowed symbol, 64-character local part, 254 characters.
        for (const QString& good : {u"first.last+tag@mail-1.example.co"_qs, u" \t a@b.co \n"_qs,
                                    u"a!#$%&'*+/=?^_`{|}~-z@x.io"_qs, local64 + u"@x.io"_qs,
                                    local64 + u'@' + labels + QString(58, u'c') + u".io"_qs}) {
            QVERIFY2(EmailAddress::isValid(good), qPrintable(good));
        }
        const QStringList tooLong = {local64 + u'@' + labels + QString(59, u'c') + u".io"_qs,
                                     local64 + u"a@x.io"_qs,
                                     u"a@"_qs + QString(64, u'b') + u".io"_qs};
        // Separated by "|".
        QStringList rejected =
            QStringLiteral(
                "a..b@x.co|.a@x.co|a.@x.co|a@localhost|a@x.c|a@-x.co|a@x-.co|a@x.c0m|a b@x.co|"
                "a@b@x.co||@x.co|a@|a@x..co|a@x.co.|\"a\"@x.co|a@[127.0.0.1]|a@b\u00fccher.de|"
                "\u00e4@x.co|Ann <a@x.co>|a@x.co,b@x.co")
                .split(u'|');
        rejected += tooLong;
        for (const QString& address : rejected) {
            QVERIFY2(!EmailAddress::isValid(address), qPrintable(address));
        }
    }

    void normalisedDomain_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("spaces and case") << u" Ann.Example "_qs << u"ann.example"_qs;
        QTest::newRow("pasted line") << u"\tMail.Example.COM\r\n"_qs << u"mail.example.com"_qs;
        QTest::newRow("no-break space") << u"\u00a0ann.example\u00a0"_qs << u"ann.example"_qs;
        QTest::newRow("only white space") << u" \n\t"_qs << QString();
    }

    void normalisedDomain() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QCOMPARE(EmailAddress::normalisedDomain(typed), expected);
    }

    void domain() {
        QCOMPARE(EmailAddress::domain(u" Ann@Mail.Example.COM \n"_qs), u"mail.example.com"_qs);
        QCOMPARE(EmailAddress::domain(u"no-at-sign"_qs), std::nullopt);
        QCOMPARE(EmailAddress::domain(u"a@b@c"_qs), std::nullopt);
        QCOMPARE(EmailAddress::domain(u"a@@B"_qs), u"b"_qs); // empty pieces are dropped
        QCOMPARE(EmailAddress::domain(u"@b"_qs), std::nullopt);
        QCOMPARE(EmailAddress::domain(QString()), std::nullopt);
    }
};

QTEST_APPLESS_MAIN(TestEmailAddress)
#include "tst_email_address.moc"
