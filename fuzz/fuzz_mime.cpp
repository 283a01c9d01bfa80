// Builds a message from arbitrary field values (split at 0xFF bytes, which UTF-8 never holds)
// and checks that no value can add a header line or break the MIME structure: the header
// section holds exactly the builder's header lines, line ends are all CR LF, no NUL byte
// appears, the subject decodes back to its cleaned value, and both parts decode back to the
// bodies.

#include "render/mime_builder.h"

#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quillmere;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "broken message: %s\n", what);
    std::abort();
}

QByteArray decodeWords(const QByteArray& value) {
    QByteArray out;
    for (const QByteArray& word : value.split(' ')) {
        QByteArray w = word.trimmed();
        if (!w.startsWith("=?UTF-8?B?") || !w.endsWith("?=")) {
            fail("subject word is not an encoded word");
        }
        const auto decoded = QByteArray::fromBase64Encoding(
            w.mid(10, w.size() - 12), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            fail("encoded word is not base64");
        }
        out += *decoded;
    }
    return out;
}

QByteArray decodePart(const QByteArray& message, qsizetype& at, const QByteArray& delimiter,
                      const char* type) {
    if (!message.mid(at).startsWith(delimiter)) {
        fail("part does not start with the delimiter");
    }
    at += delimiter.size();
    const QByteArray head = QByteArray("Content-Type: ") + type +
                            "; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    if (!message.mid(at).startsWith(head)) {
        fail("part headers");
    }
    at += head.size();
    const qsizetype end = message.indexOf("\r\n--", at);
    if (end < 0) {
        fail("part has no end");
    }
    const QByteArray body = message.mid(at, end - at);
    for (const QByteArray& line : body.split('\n')) {
        if (line.size() > 77) {
            fail("base64 line longer than 76 characters");
        }
    }
    at = end + 2;
    QByteArray joined = body;
    joined.replace("\r\n", "");
    const auto decoded =
        QByteArray::fromBase64Encoding(joined, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        fail("part is not base64");
    }
    return *decoded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> fields =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\xff');
    auto field = [&](int i) {
        return i < fields.size() ? QString::fromUtf8(fields[i]) : QString();
    };
    RenderedEmail email;
    email.subject = field(0);
    email.text = field(7);
    email.html = field(8);
    const QString fromName = field(1);
    const QString from = field(2);
    const QString to = field(3);
    const std::optional<QString> replyTo =
        fields.size() > 4 ? std::optional(field(4)) : std::nullopt;
    const QUrl url(field(5));
    const std::optional<QString> mailto =
        fields.size() > 6 ? std::optional(field(6)) : std::nullopt;
    const std::optional<QString> boundary =
        fields.size() > 9 ? std::optional(field(9)) : std::nullopt;

    const QByteArray message =
        MIMEBuilder::build(email, from, fromName, to, replyTo, url, mailto,
                           QDateTime::fromSecsSinceEpoch(1741079100, Qt::UTC), boundary);

    if (message.contains('\0')) {
        fail("NUL byte");
    }
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && (i + 1 >= message.size() || message[i + 1] != '\n')) {
            fail("bare CR");
        }
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r')) {
            fail("bare LF");
        }
    }
    const qsizetype headerEnd = message.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        fail("no end of headers");
    }
    static const QList<QByteArray> names = {"From: ",
                                            "To: ",
                                            "Reply-To: ",
                                            "Subject: ",
                                            "Date: ",
                                            "Message-ID: ",
                                            "MIME-Version: ",
                                            "List-Unsubscribe: ",
                                            "List-Unsubscribe-Post: ",
                                            "Content-Type: "};
    const QList<QByteArray> lines = message.left(headerEnd).split('\n');
    qsizetype next = 0;
    QByteArray subject;
    QByteArray fromValue;
    QByteArray contentType;
    QByteArray* current = nullptr;
    for (QByteArray line : lines) {
        line.chop(line.endsWith('\r') ? 1 : 0);
        if (line.startsWith(' ')) {
            if (!current) {
                fail("continuation line outside a folded header");
            }
            *current += line;
            continue;
        }
        while (next < names.size() && !line.startsWith(names[next])) {
            if (names[next] != "Reply-To: ") {
                fail("unexpected header line");
            }
            ++next;
        }
        if (next >= names.size()) {
            fail("extra header line");
        }
        current = nullptr;
        if (names[next] == "Subject: ") {
            subject = line.mid(9);
            current = &subject;
        } else if (names[next] == "From: ") {
            fromValue = line.mid(6);
            current = &fromValue;
        } else if (names[next] == "Content-Type: ") {
            contentType = line;
        }
        ++next;
    }
    if (next != names.size()) {
        fail("missing header lines");
    }
    const QByteArray cleanSubject = MIMEBuilder::clean(email.subject).toUtf8();
    const QByteArray subjectValue =
        subject.startsWith("=?UTF-8?B?") ? decodeWords(subject) : subject;
    if (subjectValue != cleanSubject) {
        fail("subject does not decode to its value");
    }
    for (char c : subject) {
        if (uchar(c) > 0x7E || uchar(c) < 0x20) {
            fail("raw byte in the subject");
        }
    }
    const QByteArray marker = "Content-Type: multipart/alternative; boundary=\"";
    if (!contentType.startsWith(marker) || !contentType.endsWith('"')) {
        fail("content type line");
    }
    const QByteArray b = contentType.mid(marker.size(), contentType.size() - marker.size() - 1);
    if (!MIMEBuilder::isValidBoundary(QString::fromLatin1(b))) {
        fail("invalid boundary");
    }
    const QByteArray delimiter = "--" + b + "\r\n";
    qsizetype at = headerEnd + 4;
    const QByteArray preamble = "This is a multi-part message in MIME format.\r\n\r\n";
    if (!message.mid(at).startsWith(preamble)) {
        fail("preamble");
    }
    at += preamble.size();
    if (decodePart(message, at, delimiter, "text/plain") != email.text.toUtf8()) {
        fail("text part does not decode to the text");
    }
    if (decodePart(message, at, delimiter, "text/html") != email.html.toUtf8()) {
        fail("html part does not decode to the html");
    }
    if (message.mid(at) != "--" + b + "--\r\n") {
        fail("closing delimiter");
    }
    // Count whole lines: with a boundary like "-" the closing line contains the delimiter.
    qsizetype delimiters = 0;
    for (const QByteArray& line : message.split('\n')) {
        if (line == delimiter.chopped(1)) {
            ++delimiters;
        }
    }
    if (delimiters != 2) {
        fail("delimiter count");
    }
    return 0;
}
