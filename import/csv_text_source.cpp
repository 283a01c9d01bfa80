#include "import/csv_text_source.h"

#include <QBuffer>
#include <QIODevice>

namespace quillmere {

namespace {

constexpr qint64 pieceSize = 1 << 20;
constexpr qsizetype sniffSize = 4096;

// The share of zero bytes at odd and at even places among the first bytes: UTF-16 text of
// mostly Latin letters has one of the two bytes of nearly every unit zero.
bool looksLikeUTF16(QByteArrayView head, bool littleEndian) {
    qsizetype zeros = 0;
    qsizetype others = 0;
    for (qsizetype i = 0; i + 1 < head.size(); i += 2) {
        const char high = littleEndian ? head[i + 1] : head[i];
        const char low = littleEndian ? head[i] : head[i + 1];
        zeros += high == 0 && low != 0;
        others += low == 0;
    }
    const qsizetype units = head.size() / 2;
    return units >= 2 && zeros * 4 >= units * 3 && others * 20 <= units;
}

} // namespace

std::pair<CSVTextSource::Encoding, qsizetype> CSVTextSource::detect(QByteArrayView head) {
    if (head.startsWith("\xEF\xBB\xBF")) {
        return {Encoding::utf8, 3};
    }
    if (head.startsWith(QByteArrayView("\xFF\xFE\0\0", 4))) {
        return {Encoding::utf32LE, 4};
    }
    if (head.startsWith(QByteArrayView("\0\0\xFE\xFF", 4))) {
        return {Encoding::utf32BE, 4};
    }
    if (head.startsWith("\xFF\xFE")) {
        return {Encoding::utf16LE, 2};
    }
    if (head.startsWith("\xFE\xFF")) {
        return {Encoding::utf16BE, 2};
    }
    if (looksLikeUTF16(head, true)) {
        return {Encoding::utf16LE, 0};
    }
    if (looksLikeUTF16(head, false)) {
        return {Encoding::utf16BE, 0};
    }
    return {Encoding::utf8, 0};
}

CSVTextSource::CSVTextSource(QIODevice& device)
    : m_device(device) {
    if (device.isSequential()) {
        m_whole = device.readAll();
        m_size = m_whole.size();
    } else {
        m_start = device.pos();
        m_size = device.size() - m_start;
    }
    const QByteArray head = m_whole.isNull() ? device.peek(sniffSize) : m_whole.left(sniffSize);
    const auto [encoding, mark] = detect(head);
    m_encoding = encoding;
    if (encoding == Encoding::utf8) {
        // UTF-8 only if every piece of it is (a UTF-8 mark before Windows-1252 text is a mixed
        // file's mark, not a promise).
        QByteArray piece;
        while (readRaw(piece)) {
            if (!QByteArrayView(piece).isValidUtf8()) {
                m_encoding = Encoding::windows1252;
                break;
            }
            piece.clear();
        }
        m_carry.clear();
        m_done = m_failed;
        m_position = 0;
        if (m_whole.isNull()) {
            device.seek(m_start);
        }
    }
    switch (m_encoding) {
    case Encoding::utf8:
        break;
    case Encoding::windows1252:
        m_decoder.emplace("windows-1252");
        break;
    case Encoding::utf16LE:
        m_decoder.emplace(QStringDecoder::Utf16LE, QStringDecoder::Flag::Default);
        break;
    case Encoding::utf16BE:
        m_decoder.emplace(QStringDecoder::Utf16BE, QStringDecoder::Flag::Default);
        break;
    case Encoding::utf32LE:
        m_decoder.emplace(QStringDecoder::Utf32LE, QStringDecoder::Flag::Default);
        break;
    case Encoding::utf32BE:
        m_decoder.emplace(QStringDecoder::Utf32BE, QStringDecoder::Flag::Default);
        break;
    }
    // Skip the mark.
    QByteArray skipped;
    while (skipped.size() < mark) {
        const QByteArray part = m_whole.isNull() ? device.read(mark - skipped.size())
                                                 : m_whole.mid(m_position, mark - skipped.size());
        if (part.isEmpty()) {
            break;
        }
        skipped += part;
        m_position += part.size();
    }
}

// The next raw piece, cut after its last line feed byte (the rest waits for the next piece) so
// that a piece of UTF-8 or Windows-1252 never ends inside a character.
bool CSVTextSource::readRaw(QByteArray& out) {
    if (m_done) {
        return false;
    }
    QByteArray piece;
    if (m_whole.isNull()) {
        piece = m_device.read(pieceSize);
        if (piece.isEmpty() && !m_device.atEnd()) {
            m_failed = true;
        }
    } else {
        piece = m_whole.mid(m_position, pieceSize);
    }
    m_position += piece.size();
    if (piece.isEmpty()) {
        m_done = true;
        out += m_carry;
        m_carry.clear();
        return !out.isEmpty();
    }
    const qsizetype cut = piece.lastIndexOf('\n') + 1;
    out += m_carry;
    if (cut == 0) {
        out += piece;
        m_carry.clear();
    } else {
        out += QByteArrayView(piece).first(cut);
        m_carry = piece.mid(cut);
    }
    return true;
}

bool CSVTextSource::next(QByteArray& out) {
    QByteArray raw;
    if (!readRaw(raw)) {
        return false;
    }
    out += m_decoder ? QString(m_decoder->decode(raw)).toUtf8() : raw;
    return true;
}

QString CSVTextSource::decode(QByteArrayView bytes) {
    QByteArray copy = bytes.toByteArray();
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    CSVTextSource source(buffer);
    QByteArray text;
    while (source.next(text)) {
    }
    return QString::fromUtf8(text);
}

} // namespace quillmere
