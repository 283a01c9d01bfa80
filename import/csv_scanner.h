#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QVarLengthArray>

#include <functional>
#include <optional>
#include <utility>

namespace quillmere {

// Reads CSV text (UTF-8) one record at a time, from text given whole or from pieces asked for
// as they are needed, so an import never holds more of a file than the record it reads.
//
// Comma is the only delimiter. A field opens quotes only at its very start; inside quotes a
// doubled quote stands for one and a carriage return (with a following line feed) becomes a
// line feed; text after a closing quote joins the field. Outside quotes CR, LF and CR LF each
// end the record. A record of one empty field that saw no quote is a blank line and skipped. A
// leading byte order mark is dropped. Line numbers count physical lines from 1.
//
// A quote still open at the end of the text makes its record unreadable: next() gives it with
// `unclosedQuoteLine` set and no fields, and reading goes on with the line after the one where
// the quote opened, so one stray quote costs one row, not the rest of the file.
class CSVScanner {
public:
    // Appends the next piece of text to its argument; false when there is none.
    using More = std::function<bool(QByteArray&)>;

    explicit CSVScanner(QByteArray text);
    explicit CSVScanner(More more);

    // Reads the next kept record; false at the end of the text.
    bool next();

    // Physical line on which the current record starts.
    qsizetype line() const { return m_recordLine; }
    // The line of the quote that made the current record unreadable, if one did.
    std::optional<qsizetype> unclosedQuoteLine() const { return m_unclosedQuote; }
    // The current record's fields as UTF-8, valid until the next call to next().
    const QVarLengthArray<QByteArrayView, 32>& fields() const { return m_fields; }
    // Bytes of text read so far.
    qint64 consumed() const { return m_dropped + m_pos; }

private:
    enum class Outcome { record, needMore, unclosed };
    Outcome readRecord();
    bool fill();

    More m_more;
    bool m_ended = false; // m_more said there is nothing after the buffer
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_dropped = 0; // bytes removed from the front of the buffer
    qsizetype m_lineCounter = 1;
    qsizetype m_recordLine = 1;
    bool m_sawQuote = false;
    std::optional<qsizetype> m_unclosedQuote;
    QByteArray m_chars; // the current record's field texts, back to back
    QVarLengthArray<std::pair<qsizetype, qsizetype>, 32> m_spans; // (offset, length) in m_chars
    QVarLengthArray<QByteArrayView, 32> m_fields;
};

} // namespace quillmere
