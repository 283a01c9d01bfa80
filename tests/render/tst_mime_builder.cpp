#include "render/mime_builder.h"

#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

using namespace quillmere;

namespace {

const QDateTime kDate(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC);
const QUrl kUnsubscribe(u"https://w.example.dev/unsubscribe?t=YQ.abc"_qs);

RenderedEmail email(const QString& subject, const QString& text = u"Hi\n"_qs,
                    const QString& html = u"<p>Hi</p>"_qs) {
    return RenderedEmail{html, text, subject};
}

QByteArray build(const RenderedEmail& e, const QString& fromName = u"Mara"_qs,
                 const std::optional<QString>& replyTo = u"r@q.news"_qs,
                 const std::optional<QString>& mailto = u"mailto:r@q.news?subject=unsubscribe"_qs,
                 const QString& from = u"m@q.news"_qs, const QString& to = u"ann@x.co"_qs) {
    return MIMEBuilder::build(e, from, fromName, to, replyTo, kUnsubscribe, mailto, kDate,
                              u"B0UND"_qs);
}

// A message where only the sender's address and the boundary vary.
QByteArray bare(const QString& from, const std::optional<QString>& boundary) {
    return MIMEBuilder::build(email(u"S"_qs), from, QString(), u"a@x.co"_qs, std::nullopt,
                              kUnsubscribe, std::nullopt, kDate, boundary);
}

QByteArray lines76(const QByteArray& data) {
    const QByteArray b64 = data.toBase64();
    QByteArrayList lines;
    for (qsizetype i = 0; i < b64.size(); i += 76) {
        lines.append(b64.mid(i, 76));
    }
    return lines.join("\r\n");
}

QList<QByteArray> headerLines(const QByteArray& message) {
    return message.left(message.indexOf("\r\n\r\n")).split('\n');
}

// The value of the last such line of the header section, with its folded continuations.
QByteArray header(const QByteArray& message, const QByteArray& name) {
    const QRegularExpression line(u"^"_qs + QString::fromLatin1(name) +
                                      u": ([^\r\n]*(?:\r\n [^\r\n]*)*)"_qs,
                                  QRegularExpression::MultilineOption);
    QByteArray value;
    for (const QRegularExpressionMatch& m :
         line.globalMatch(QString::fromLatin1(message.left(message.indexOf("\r\n\r\n"))))) {
        value = m.captured(1).toLatin1().replace("\r\n", "\n");
    }
    return value;
}

// The text of a folded run of encoded words, and whether each word holds whole characters.
QString decodeWords(const QByteArray& value, bool* whole = nullptr) {
    QByteArray decoded;
    for (const QByteArray& w : value.split('\n')) {
        const QByteArray word = w.trimmed();
        const QByteArray bytes = QByteArray::fromBase64(word.mid(10, word.size() - 12));
        if (whole && (bytes.size() > 45 || QString::fromUtf8(bytes).toUtf8() != bytes)) {
            *whole = false;
        }
        decoded += bytes;
    }
    return QString::fromUtf8(decoded);
}

// Every line ends in CR LF, the header section holds only the builder's own lines (with folded
// continuations), no NUL, nothing longer than 998 characters.
void verifyStructure(const QByteArray& message) {
    QVERIFY(!message.contains('\0'));
    QVERIFY(!message.contains("\r\r"));
    QCOMPARE(message.count('\n'), message.count("\r\n"));
    static const QRegularExpression known(
        u"^(From|To|Reply-To|Subject|Date|Message-ID|MIME-Version|List-Unsubscribe|"
        "List-Unsubscribe-Post|Content-Type): |^ "_qs);
    for (const QByteArray& line : headerLines(message)) {
        QVERIFY2(known.match(QString::fromUtf8(line)).hasMatch(), line.constData());
    }
    const QByteArray boundary = message.mid(message.indexOf("boundary=\"") + 10).split('"').first();
    qsizetype delimiters = 0;
    for (const QByteArray& line : message.split('\n')) {
        QVERIFY(line.size() <= 999);
        delimiters += line == "--" + boundary + "\r" ? 1 : 0;
    }
    QCOMPARE(delimiters, 2);
    QVERIFY(message.endsWith("\r\n--" + boundary + "--\r\n"));
}

} // namespace

class TestMIMEBuilder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wholeMessage() {
        const QString html = u"<p>caf\u00e9</p>"_qs + QString(100, u'x');
        const QByteArray m = build(email(u"Hello"_qs, u"Hi Ann\n"_qs, html));
        static const QRegularExpression id(u"Message-ID: <[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                           "[89ab][0-9a-f]{3}-[0-9a-f]{12}@q\\.news>"_qs);
        QByteArray withoutID = m;
        withoutID.replace(id.match(QString::fromLatin1(m)).captured().toLatin1(),
                          "Message-ID: <ID>");
        const QByteArray expected =
            "From: Mara <m@q.news>\r\n"
            "To: ann@x.co\r\n"
            "Reply-To: r@q.news\r\n"
            "Subject: Hello\r\n"
            "Date: Tue, 04 Mar 2025 09:05:00 +0000\r\n"
            "Message-ID: <ID>\r\n"
            "MIME-Version: 1.0\r\n"
            "List-Unsubscribe: <https://w.example.dev/unsubscribe?t=YQ.abc>, "
            "<mailto:r@q.news?subject=unsubscribe>\r\n"
            "List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n"
            "Content-Type: multipart/alternative; boundary=\"B0UND\"\r\n\r\n"
            "This is a multi-part message in MIME format.\r\n\r\n"
            "--B0UND\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" +
            lines76("Hi Ann\n") +
            "\r\n--B0UND\r\n"
            "Content-Type: text/html; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" +
            lines76(html.toUtf8()) + "\r\n--B0UND--\r\n";
        QCOMPARE(withoutID, expected);
        QVERIFY(lines76(html.toUtf8()).contains("\r\n"));
        // Each build has its own Message-ID.
        QVERIFY(header(m, "Message-ID") !=
                header(build(email(u"Hello"_qs, u"Hi Ann\n"_qs, html)), "Message-ID"));
    }

    void subjects_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain ASCII") << u"Hello"_qs << QByteArray("Hello");
        QTest::newRow("one accented letter")
            << u"Caf\u00e9"_qs << "=?UTF-8?B?" + u"Caf\u00e9"_qs.toUtf8().toBase64() + "?=";
        QTest::newRow("encoded-word marker in ASCII")
            << u"a =?b"_qs << "=?UTF-8?B?" + QByteArray("a =?b").toBase64() + "?=";
        QTest::newRow("line ends cleaned") << u"a\r\nb\nc\rd"_qs << QByteArray("a b cd");
        QTest::newRow("long ASCII stays whole") << QString(900, u'a') << QByteArray(900, 'a');
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void subjects() {
        QFETCH(QString, subject);
        QFETCH(QByteArray, expected);
        QCOMPARE(header(build(email(subject)), "Subject"), expected);
        QCOMPARE(MIMEBuilder::encodeHeader(subject).toUtf8(), expected);
    }

    void charactersAreNeverSplit() {
        // Four-byte emoji and a cluster of a letter with 30 marks (61 bytes, too long for a word).
        const QString subject =
            u"\U0001F600"_qs.repeated(20) + u"a"_qs + QString(30, QChar(0x0301));
        const QByteArray value = MIMEBuilder::encodeHeader(subject).toUtf8();
        bool whole = true;
        QCOMPARE(decodeWords(value, &whole), subject);
        QVERIFY(whole);
        QCOMPARE(decodeWords(value.split('\n').first()), u"\U0001F600"_qs.repeated(11));
        // Found by fuzzing: the emoji of a subject holding a Khmer sign came out as "??".
        const QString khmer = u"\ufffd\U0001F468\u200d\U0001F469\u200d"_qs +
                              QString(40, QChar(0xfffd)) + u"\u17d1"_qs;
        QCOMPARE(decodeWords(MIMEBuilder::encodeHeader(khmer).toUtf8()), khmer);
    }

    void addresses_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no name") << QString() << u"m@q.news"_qs;
        QTest::newRow("blank name") << u"  "_qs << u"m@q.news"_qs;
        QTest::newRow("trimmed") << u" Ann Lee \n"_qs << u"Ann Lee <m@q.news>"_qs;
        QTest::newRow("comma is quoted") << u"Lee, Ann"_qs << u"\"Lee, Ann\" <m@q.news>"_qs;
        QTest::newRow("dot is quoted") << u"A. Lee"_qs << u"\"A. Lee\" <m@q.news>"_qs;
        QTest::newRow("line end cleaned") << u"Ann\r\nBcc: x"_qs << u"\"Ann Bcc: x\" <m@q.news>"_qs;
    }
    void addresses() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(MIMEBuilder::formatAddress(name, u"m@q.news"_qs), expected);
        QCOMPARE(header(build(email(u"S"_qs), name), "From"), expected.toUtf8());
    }

    void replyToAndUnsubscribeTargets() {
        const QByteArray blank = build(email(u"S"_qs), u"M"_qs, u"  "_qs, u" "_qs);
        QVERIFY(!blank.contains("Reply-To"));
        QCOMPARE(header(blank, "List-Unsubscribe"),
                 QByteArray("<https://w.example.dev/unsubscribe?t=YQ.abc>"));
        const QByteArray bare = build(email(u"S"_qs), u"M"_qs, u" r@q.news "_qs, u"r@q.news"_qs);
        QCOMPARE(header(bare, "Reply-To"), QByteArray("r@q.news"));
        QCOMPARE(header(bare, "List-Unsubscribe"),
                 QByteArray("<https://w.example.dev/unsubscribe?t=YQ.abc>, <mailto:r@q.news>"));
        const QByteArray upper =
            build(email(u"S"_qs), u"M"_qs, std::nullopt, u"MAILTO:r@q.news"_qs);
        QVERIFY(header(upper, "List-Unsubscribe").endsWith(", <MAILTO:r@q.news>"));
        QCOMPARE(header(upper, "List-Unsubscribe-Post"), QByteArray("List-Unsubscribe=One-Click"));
    }

    void emptyTextPartKeepsItsEmptyLine() {
        const QByteArray m = build(email(u"S"_qs, QString(), QString()));
        QVERIFY(m.contains("--B0UND\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\n\r\n--B0UND\r\n"));
        QVERIFY(m.endsWith("Content-Transfer-Encoding: base64\r\n\r\n\r\n--B0UND--\r\n"));
    }

    void base64Lines() {
        QCOMPARE(MIMEBuilder::base64Lines(QByteArray()), QByteArray());
        for (int n : {1, 2, 3, 56, 57, 58, 113, 114, 115, 1000}) {
            const QByteArray data(n, char(n));
            QCOMPARE(MIMEBuilder::base64Lines(data), lines76(data));
        }
    }

    void datesAndBoundaries() {
        QCOMPARE(
            MIMEBuilder::formatDate(QDateTime(QDate(2025, 3, 4), QTime(11, 5), QTimeZone(7200))),
            u"Tue, 04 Mar 2025 09:05:00 +0000"_qs);
        QCOMPARE(
            MIMEBuilder::formatDate(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59), Qt::UTC)),
            u"Thu, 31 Dec 2026 23:59:59 +0000"_qs);
        static const QRegularExpression generated(
            u"^=_Postwick_[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"_qs);
        const QString b = MIMEBuilder::generateBoundary();
        QVERIFY(generated.match(b).hasMatch());
        QVERIFY(MIMEBuilder::isValidBoundary(b));
        QVERIFY(b != MIMEBuilder::generateBoundary());
        const QByteArray m = bare(u"m@q.news"_qs, std::nullopt);
        QVERIFY(m.contains("boundary=\"=_Postwick_"));
        verifyStructure(m); // its two parts open with the generated boundary
        QVERIFY(!MIMEBuilder::isValidBoundary(u"a "_qs));
        for (const QString& bad : {QString(), QString(71, u'a'), u"a\"b"_qs, u"\u00e9"_qs}) {
            QVERIFY(!MIMEBuilder::isValidBoundary(bad));
            QVERIFY(bare(u"m@q.news"_qs, bad).contains("boundary=\"=_Postwick_"));
        }
    }

    void messageIDDomain() {
        for (const auto& [from, domain] : {std::pair{u"m@q.news"_qs, "@q.news>"},
                                           {u"m@@q.news@"_qs, "@q.news>"},
                                           {QString(), "@quillmere.invalid>"},
                                           {u"@"_qs, "@quillmere.invalid>"},
                                           {u"m@q news>"_qs, "@quillmere.invalid>"}}) {
            QVERIFY2(header(bare(from, u"B0UND"_qs), "Message-ID").endsWith(domain),
                     qPrintable(from));
        }
    }

    // No value can add a header line or break the structure.
    void hostileValues() {
        const QString crlf = u"x\r\nBcc: victim@example.com\r\n\r\n--B0UND"_qs;
        const QByteArray m = MIMEBuilder::build(
            email(crlf + u"\u0000\u0007"_qs, u"t\r\n--B0UND--\r\n"_qs, u"\u0000"_qs),
            u"a@b.co\r\nX: 1"_qs, crlf, u"ann@x.co\nBcc: z@x.co"_qs, u"r@q.news\r\nX-Evil: 1"_qs,
            QUrl(u"https://w.example.dev/u?t=a\r\nX: 1"_qs), u"r@q.news>, <https://evil x"_qs,
            kDate, u"B0UND"_qs);
        verifyStructure(m);
        QVERIFY(!m.contains("\r\nBcc"));
        QVERIFY(!m.contains("\r\nX"));
        QCOMPARE(header(m, "To"), QByteArray("ann@x.co Bcc: z@x.co"));
        QCOMPARE(header(m, "Reply-To"), QByteArray("r@q.news X-Evil: 1"));
        QVERIFY(header(m, "List-Unsubscribe")
                    .endsWith(", <mailto:r@q.news%3E,%20%3Chttps://evil%20x>"));
        QVERIFY(header(m, "Subject").startsWith("=?UTF-8?B?"));
        QCOMPARE(decodeWords(header(m, "Subject")),
                 u"x Bcc: victim@example.com  --B0UND\u0000\u0007"_qs);

        const QString huge(5000, u'a');
        const QByteArray big =
            build(email(huge + u" "_qs + huge), huge, std::nullopt, std::nullopt);
        verifyStructure(big);
        QVERIFY(header(big, "Subject").startsWith("=?UTF-8?B?"));
        QVERIFY(header(big, "From").startsWith("=?UTF-8?B?"));

        // Found by fuzzing: a one-character boundary whose closing line holds the delimiter.
        const QByteArray dash = bare(u"m@q.news"_qs, u"-"_qs);
        verifyStructure(dash);
        QVERIFY(dash.endsWith("\r\n-----\r\n"));

        const QByteArray edges = build(email(u" padded "_qs));
        QVERIFY(header(edges, "Subject").startsWith("=?UTF-8?B?"));
        verifyStructure(build(email(QString(300, QChar(0x4e2d)), QString(10000, QChar(0x00e9))),
                              QString(200, QChar(0x00e9))));
    }
};

QTEST_APPLESS_MAIN(TestMIMEBuilder)
#include "tst_mime_builder.moc"
