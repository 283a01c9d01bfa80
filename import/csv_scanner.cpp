#include "import/csv_scanner.h"

namespace quillmere {

namespace {

constexpr char quote = '"';
constexpr char comma = ',';
constexpr char cr = '\r';
constexpr char lf = '\n';

} // namespace

CSVScanner::CSVScanner(QByteArray text)
    : m_ended(true)
    , m_buffer(std::move(text)) {
    if (m_buffer.startsWith("\xEF\xBB\xBF")) {
        m_pos = 3;
    }
}

CSVScanner::CSVScanner(More more)
    : m_more(std::move(more)) {
    fill();
    if (m_buffer.startsWith("\xEF\xBB\xBF")) {
        m_pos = 3;
    }
}

bool CSVScanner::fill() {
    if (m_ended) {
        return false;
    }
    // What came before the current record is done with.
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_dropped += m_pos;
        m_pos = 0;
    }
    const qsizetype before = m_buffer.size();
    while (m_buffer.size() == before) {
        if (!m_more(m_buffer)) {
            m_ended = true;
            return m_buffer.size() != before;
        }
    }
    return true;
}

bool CSVScanner::next() {
    while (true) {
        if (m_pos >= m_buffer.size() && !fill()) {
            return false; // a text ending in a line break leaves no extra record
        }
        const Outcome outcome = readRecord();
        if (outcome == Outcome::needMore) {
            // The record is read again from its start: at least double what it had, so a
            // record longer than many pieces is not read over and over.
            const qsizetype want = 2 * (m_buffer.size() - m_pos);
            while (fill() && m_buffer.size() - m_pos < want) {
            }
            continue;
        }
        if (outcome == Outcome::unclosed) {
            m_fields.clear();
            return true;
        }
        const bool blank = m_spans.size() == 1 && m_spans[0].second == 0 && !m_sawQuote;
        if (!blank) {
            m_fields.clear();
            for (const auto& [offset, length] : m_spans) {
                m_fields.append(QByteArrayView(m_chars.constData() + offset, length));
            }
            return true;
        }
    }
}

CSVScanner::Outcome CSVScanner::readRecord() {
    const char* s = m_buffer.constData();
    const qsizetype n = m_buffer.size();
    qsizetype i = m_pos;
    qsizetype lineCounter = m_lineCounter;
    m_chars.clear();
    m_spans.clear();
    m_sawQuote = false;
    m_unclosedQuote.reset();

    qsizetype fieldStart = 0;
    bool fieldQuoted = false;
    const auto endField = [&] {
        const qsizetype end = m_chars.size();
        m_spans.append({fieldStart, end - fieldStart});
        fieldStart = end;
        fieldQuoted = false;
    };

    while (i < n) {
        const char c = s[i];
        if (c == quote && !fieldQuoted && m_chars.size() == fieldStart) {
            fieldQuoted = true;
            m_sawQuote = true;
            const qsizetype quoteLine = lineCounter;
            qsizetype resumeAt = -1;
            ++i;
            bool closed = false;
            while (i < n) {
                const char q = s[i];
                if (q == quote) {
                    if (i + 1 < n && s[i + 1] == quote) {
                        m_chars.append(quote);
                        i += 2;
                        continue;
                    }
                    if (i + 1 == n && !m_ended) {
                        return Outcome::needMore; // "" may be cut between pieces
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (q == cr || q == lf) {
                    m_chars.append(lf);
                    ++i;
                    if (q == cr) {
                        if (i == n && !m_ended) {
                            return Outcome::needMore; // CR LF may be cut between pieces
                        }
                        if (i < n && s[i] == lf) {
                            ++i;
                        }
                    }
                    ++lineCounter;
                    if (resumeAt < 0) {
                        resumeAt = i;
                    }
                    continue;
                }
                qsizetype j = i + 1;
                while (j < n && s[j] != quote && s[j] != cr && s[j] != lf) {
                    ++j;
                }
                m_chars.append(s + i, j - i);
                i = j;
            }
            if (!closed) {
                if (!m_ended) {
                    return Outcome::needMore;
                }
                // Never closed: this record is lost, the lines after the quote's are not.
                m_recordLine = m_lineCounter;
                m_unclosedQuote = quoteLine;
                if (resumeAt < 0) {
                    m_pos = n;
                    m_lineCounter = lineCounter;
                } else {
                    m_pos = resumeAt;
                    m_lineCounter = quoteLine + 1;
                }
                return Outcome::unclosed;
            }
            continue;
        }
        if (c == comma) {
            endField();
            ++i;
            continue;
        }
        if (c == cr || c == lf) {
            ++i;
            if (c == cr) {
                if (i == n && !m_ended) {
                    return Outcome::needMore;
                }
                if (i < n && s[i] == lf) {
                    ++i;
                }
            }
            endField();
            m_recordLine = m_lineCounter;
            m_lineCounter = lineCounter + 1;
            m_pos = i;
            return Outcome::record;
        }
        // Ordinary text up to the next delimiter; a quote here is an ordinary character.
        qsizetype j = i + 1;
        while (j < n && s[j] != comma && s[j] != cr && s[j] != lf) {
            ++j;
        }
        m_chars.append(s + i, j - i);
        i = j;
    }
    if (!m_ended) {
        return Outcome::needMore;
    }
    endField();
    m_recordLine = m_lineCounter;
    m_lineCounter = lineCounter;
    m_pos = n;
    return Outcome::record;
}

} // namespace quillmere
