#include "render/email_address.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillmere;

class TestEmailAddress : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The signup worker reads the same list, so both checks answer alike.
    void isValid_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("valid");
        QFile file(QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/data/addresses.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject lists = QJsonDocument::fromJson(file.readAll()).object();
        for (const bool valid : {true, false}) {
            const QJsonArray entries = lists.value(valid ? u"valid" : u"invalid").toArray();
            QVERIFY(entries.size() > 5);
            for (const QJsonValue& entry : entries) {
                const QString address = entry[u"address"].toString();
                QTest::addRow("%s", qPrintable(address.toUtf8().toPercentEncoding(" @")))
                    << address << valid;
            }
        }
    }
    void isValid() {
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
#include "tst_email_address.moc"
