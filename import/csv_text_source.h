#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringDecoder>

#include <optional>

class QIODevice;

namespace quillmere {

// The text of a CSV file as UTF-8, a piece at a time, whatever the file was written in: UTF-8
// with or without a byte order mark, UTF-16 little or big endian with a mark, UTF-16 little
// endian without one (told by its zero bytes), UTF-32 with a mark; a file that is not valid
// UTF-8 is read as Windows-1252, as spreadsheets on Windows write it (curly quotes stay curly).
// The mark itself is not part of the text.
class CSVTextSource {
public:
    enum class Encoding { utf8, utf16LE, utf16BE, utf32LE, utf32BE, windows1252 };

    // Reads `device` from its current position. A file is first read through once when it has
    // no mark, to learn whether all of it is UTF-8; anything sequential (a pipe) is read whole.
    explicit CSVTextSource(QIODevice& device);

    // Appends the next piece (it ends after a line break where the file has one); false at the
    // end of the file or on a read error.
    bool next(QByteArray& out);

    Encoding encoding() const { return m_encoding; }
    // Bytes of the file read so far, and in all (for progress).
    qint64 position() const { return m_position; }
    qint64 size() const { return m_size; }
    bool failed() const { return m_failed; }

    // The whole text of `bytes`, by the same rules.
    static QString decode(QByteArrayView bytes);

private:
    // The encoding the first bytes show, and the length of the mark.
    static std::pair<Encoding, qsizetype> detect(QByteArrayView head);
    bool readRaw(QByteArray& out);

    QIODevice& m_device;
    Encoding m_encoding = Encoding::utf8;
    std::optional<QStringDecoder> m_decoder; // stateful: a unit may be cut between pieces
    QByteArray m_carry;                      // raw bytes after the last line break of a piece
    QByteArray m_whole;                      // a sequential device, read at once
    qint64 m_position = 0;
    qint64 m_size = 0;
    qint64 m_start = 0;
    bool m_done = false;
    bool m_failed = false;
};

} // namespace quillmere
