#include "render/email_address.h"

#include <QTest>

using namespace quillmere;

class TestEmailAddress : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valid_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("valid");
        const QString local64(64, u'a');
        const QString label63(63, u'b');
        QTest::newRow("dots, plus and three labels")
            << u"first.last+tag@mail.example.co"_qs << true;
        QTest::newRow("surrounding white space") << u" \t a@b.co \n"_qs << true;
        QTest::newRow("every allowed symbol") << u"a!#$%&'*+/=?^_`{|}~-z@x.io"_qs << true;
        QTest::newRow("hyphen inside a label") << u"a@mail-1.x.io"_qs << true;
        QTest::newRow("64-character local part") << local64 + u"@x.io"_qs << true;
        QTest::newRow("254 characters") << local64 + u"@"_qs + label63 + u"."_qs + label63 +
                                               u"."_qs + QString(58, u'c') + u".io"_qs
                                        << true;
        QTest::newRow("255 characters") << local64 + u"@"_qs + label63 + u"."_qs + label63 +
                                               u"."_qs + QString(59, u'c') + u".io"_qs
                                        << false;
        QTest::newRow("65-character local part") << local64 + u"a@x.io"_qs << false;
        QTest::newRow("64-character label") << u"a@"_qs + label63 + u"b.io"_qs << false;
        QTest::newRow("two dots in a row") << u"a..b@x.co"_qs << false;
        QTest::newRow("starts with a dot") << u".a@x.co"_qs << false;
        QTest::newRow("ends with a dot") << u"a.@x.co"_qs << false;
        QTest::newRow("domain without a dot") << u"a@localhost"_qs << false;
        QTest::newRow("one-letter last label") << u"a@x.c"_qs << false;
        QTest::newRow("label starting with a hyphen") << u"a@-x.co"_qs << false;
        QTest::newRow("label ending with a hyphen") << u"a@x-.co"_qs << false;
        QTest::newRow("digit in the last label") << u"a@x.c0m"_qs << false;
        QTest::newRow("space in the local part") << u"a b@x.co"_qs << false;
        QTest::newRow("second at sign") << u"a@b@x.co"_qs << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("empty local part") << u"@x.co"_qs << false;
        QTest::newRow("empty domain") << u"a@"_qs << false;
        QTest::newRow("empty label") << u"a@x..co"_qs << false;
        QTest::newRow("trailing dot") << u"a@x.co."_qs << false;
        QTest::newRow("quoted local part") << u"\"a\"@x.co"_qs << false;
        QTest::newRow("address literal") << u"a@[127.0.0.1]"_qs << false;
        QTest::newRow("non-ASCII domain") << u"a@b\u00fccher.de"_qs << false;
        QTest::newRow("non-ASCII local part") << u"\u00e4@x.co"_qs << false;
        QTest::newRow("display name form") << u"Ann <a@x.co>"_qs << false;
        QTest::newRow("comma list") << u"a@x.co,b@x.co"_qs << false;
    }
    void valid() {
        QFETCH(QString, address);
        QFETCH(bool, valid);
        QCOMPARE(EmailAddress::isValid(address), valid);
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
#include "test_email_address.moc"
