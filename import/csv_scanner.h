#pragma once

#include <QStringView>
#include <QVarLengthArray>

#include <string>
#include <utility>

namespace quillmere {

// Reads CSV text one record at a time, so an import never holds the whole table: only the
// current record's fields, which stay valid until the next call to next().
//
// Comma is the only delimiter. A field opens quotes only at its very start; inside quotes a
// doubled quote stands for one and a carriage return (with a following line feed) becomes a
// line feed; text after a closing quote joins the field. Outside quotes CR, LF and CR LF each
// end the record. A record of one empty field that saw no quote is a blank line and skipped. A
// leading byte order mark is dropped. Line numbers count physical lines from 1.
//
// Only ASCII code units are ever special, so a surrogate pair is never split: walking UTF-16
// code units gives the same records as walking Unicode scalars.
class CSVScanner {
public:
    explicit CSVScanner(QStringView text);

    // Reads the next kept record; false at the end of the text.
    bool next();

    // Physical line on which the current record starts.
    qsizetype line() const { return m_recordLine; }
    const QVarLengthArray<QStringView, 32>& fields() const { return m_fields; }
    // Code units of the text read so far, and in all.
    qsizetype position() const { return m_pos; }
    qsizetype size() const { return m_size; }

private:
    void readRecord();

    const char16_t* m_text;
    qsizetype m_size;
    qsizetype m_pos = 0;
    qsizetype m_lineCounter = 1;
    qsizetype m_recordLine = 1;
    bool m_sawQuote = false;
    std::u16string m_chars; // the current record's field texts, back to back
    QVarLengthArray<std::pair<qsizetype, qsizetype>, 32> m_spans; // (offset, length) in m_chars
    QVarLengthArray<QStringView, 32> m_fields;
};

} // namespace quillmere
