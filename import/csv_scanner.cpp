#include "import/csv_scanner.h"

namespace quillmere {

namespace {

constexpr char16_t quote = u'"';
constexpr char16_t comma = u',';
constexpr char16_t cr = u'\r';
constexpr char16_t lf = u'\n';

} // namespace

CSVScanner::CSVScanner(QStringView text)
    : m_text(text.utf16())
    , m_size(text.size()) {
    if (m_size > 0 && m_text[0] == u'\uFEFF') {
        m_pos = 1;
    }
}

bool CSVScanner::next() {
    // A text ending in a line break leaves nothing after it: that is no extra record.
    while (m_pos < m_size) {
        readRecord();
        const bool blank = m_spans.size() == 1 && m_spans[0].second == 0 && !m_sawQuote;
        if (!blank) {
            m_fields.clear();
            for (const auto& [offset, length] : m_spans) {
                m_fields.append(QStringView(m_chars.data() + offset, length));
            }
            return true;
        }
    }
    return false;
}

void CSVScanner::readRecord() {
    const char16_t* s = m_text;
    const qsizetype n = m_size;
    qsizetype i = m_pos;
    m_chars.clear();
    m_spans.clear();
    m_sawQuote = false;
    m_recordLine = m_lineCounter;

    qsizetype fieldStart = 0;
    bool fieldQuoted = false;
    const auto endField = [&] {
        const auto end = qsizetype(m_chars.size());
        m_spans.append({fieldStart, end - fieldStart});
        fieldStart = end;
        fieldQuoted = false;
    };

    while (i < n) {
        const char16_t c = s[i];
        if (c == quote && !fieldQuoted && qsizetype(m_chars.size()) == fieldStart) {
            fieldQuoted = true;
            m_sawQuote = true;
            ++i;
            // Inside quotes; an unterminated quote runs to the end of the text.
            while (i < n) {
                const char16_t q = s[i];
                if (q == quote) {
                    if (i + 1 < n && s[i + 1] == quote) {
                        m_chars.push_back(quote);
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (q == cr) {
                    m_chars.push_back(lf);
                    ++i;
                    if (i < n && s[i] == lf) {
                        ++i;
                    }
                    ++m_lineCounter;
                    continue;
                }
                if (q == lf) {
                    m_chars.push_back(lf);
                    ++i;
                    ++m_lineCounter;
                    continue;
                }
                qsizetype j = i + 1;
                while (j < n && s[j] != quote && s[j] != cr && s[j] != lf) {
                    ++j;
                }
                m_chars.append(s + i, size_t(j - i));
                i = j;
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
            if (c == cr && i < n && s[i] == lf) {
                ++i;
            }
            ++m_lineCounter;
            endField();
            m_pos = i;
            return;
        }
        // Ordinary text up to the next delimiter; a quote here is an ordinary character.
        qsizetype j = i + 1;
        while (j < n && s[j] != comma && s[j] != cr && s[j] != lf) {
            ++j;
        }
        m_chars.append(s + i, size_t(j - i));
        i = j;
    }
    endField();
    m_pos = n;
}

} // namespace quillmere
