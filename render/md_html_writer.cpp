#include "render/md_html_writer.h"

#include "render/html_escape.h"

namespace quillmere {

MDHtmlWriter::MDHtmlWriter(qsizetype expected, QStringView mediaBase)
    : m_mediaBase(mediaBase) {
    m_levels.push_back({});
    if (expected > 0) {
        grow(expected);
    }
}

QString MDHtmlWriter::take() {
    if (!m_at) {
        return {};
    }
    m_out.truncate(m_at - reinterpret_cast<char16_t*>(m_out.data()));
    m_at = m_end = nullptr;
    return std::move(m_out);
}

void MDHtmlWriter::grow(qsizetype more) {
    const qsizetype used = m_at ? m_at - reinterpret_cast<char16_t*>(m_out.data()) : 0;
    m_out.resize(std::max(used + more, 2 * m_out.size() + 64));
    char16_t* begin = reinterpret_cast<char16_t*>(m_out.data());
    m_at = begin + used;
    m_end = begin + m_out.size();
}

void MDHtmlWriter::putEscaped(QStringView s) {
    HTMLEscape::escape(s, [this](QStringView piece) { put(piece); });
}

void MDHtmlWriter::putNumber(qint64 n) {
    if (n >= 0 && n <= 9) {
        put(char16_t(u'0' + n));
    } else {
        put(QString::number(n));
    }
}

bool MDHtmlWriter::beforeBlock(bool paragraph) {
    Level& l = m_levels.back();
    if (!l.tight && l.count > 0) {
        put(u'\n');
    }
    ++l.count;
    if (l.tight && !paragraph) {
        put(u'\n');
    }
    return l.tight;
}

void MDHtmlWriter::afterBlock() {
    if (m_levels.back().tight) {
        put(u'\n');
    }
}

void MDHtmlWriter::beginHeading(int level) {
    beforeBlock(false);
    put(u"<h");
    putNumber(level);
    put(u'>');
}

void MDHtmlWriter::endHeading(int level) {
    put(u"</h");
    putNumber(level);
    put(u'>');
    afterBlock();
}

void MDHtmlWriter::beginParagraph() {
    if (!beforeBlock(true)) {
        put(u"<p>");
    }
}

void MDHtmlWriter::endParagraph() {
    if (!m_levels.back().tight) {
        put(u"</p>");
    }
}

void MDHtmlWriter::code(const std::optional<QString>& language, QStringView text) {
    beforeBlock(false);
    put(u"<pre><code");
    if (language) {
        put(u" class=\"language-");
        putEscaped(*language);
        put(u'"');
    }
    put(u'>');
    putEscaped(text);
    put(u"</code></pre>");
    afterBlock();
}

void MDHtmlWriter::rule() {
    beforeBlock(false);
    put(u"<hr>");
    afterBlock();
}

void MDHtmlWriter::beginQuote() {
    const bool inTightItem = beforeBlock(false);
    put(u"<blockquote>\n");
    m_levels.push_back({false, false, false, inTightItem, 0});
}

void MDHtmlWriter::endQuote() {
    put(u"\n</blockquote>");
    if (m_levels.back().lineAfter) {
        put(u'\n');
    }
    m_levels.pop_back();
}

void MDHtmlWriter::beginList(bool ordered, qint64 start, bool tight) {
    const bool inTightItem = beforeBlock(false);
    if (!ordered) {
        put(u"<ul>\n");
    } else if (start == 1) {
        put(u"<ol>\n");
    } else {
        put(u"<ol start=\"");
        putNumber(start);
        put(u"\">\n");
    }
    m_levels.push_back({true, ordered, tight, inTightItem, 0});
}

void MDHtmlWriter::beginItem() {
    Level& list = m_levels.back();
    if (list.count > 0) {
        put(u'\n');
    }
    ++list.count;
    put(list.tight ? QStringView(u"<li>") : QStringView(u"<li>\n"));
    m_levels.push_back({false, false, list.tight, false, 0});
}

void MDHtmlWriter::endItem() {
    put(m_levels.back().tight ? QStringView(u"</li>") : QStringView(u"\n</li>"));
    m_levels.pop_back();
}

void MDHtmlWriter::endList() {
    const Level& list = m_levels.back();
    put(list.ordered ? QStringView(u"\n</ol>") : QStringView(u"\n</ul>"));
    if (list.lineAfter) {
        put(u'\n');
    }
    m_levels.pop_back();
}

void MDHtmlWriter::text(QStringView s) {
    putEscaped(s);
}

void MDHtmlWriter::code(QStringView s) {
    put(u"<code>");
    putEscaped(s);
    put(u"</code>");
}

void MDHtmlWriter::open(MDInline::Kind kind, const std::optional<QString>& url) {
    switch (kind) {
    case MDInline::Kind::strong:
        put(u"<strong>");
        break;
    case MDInline::Kind::emphasis:
        put(u"<em>");
        break;
    case MDInline::Kind::strike:
        put(u"<del>");
        break;
    case MDInline::Kind::link:
        if (url) {
            put(u"<a href=\"");
            putEscaped(*url);
            put(u"\">");
        }
        break;
    default:
        break;
    }
}

void MDHtmlWriter::close(MDInline::Kind kind, const std::optional<QString>& url) {
    switch (kind) {
    case MDInline::Kind::strong:
        put(u"</strong>");
        break;
    case MDInline::Kind::emphasis:
        put(u"</em>");
        break;
    case MDInline::Kind::strike:
        put(u"</del>");
        break;
    case MDInline::Kind::link:
        if (url) {
            put(u"</a>");
        }
        break;
    default:
        break;
    }
}

void MDHtmlWriter::image(QStringView alt, const std::optional<QString>& src) {
    // "media/<name>" is the only source that is not an http(s) address.
    const bool own = src && src->startsWith(u'm');
    if (!src || (own && m_mediaBase.isEmpty())) {
        putEscaped(alt);
        return;
    }
    put(u"<img src=\"");
    if (own) {
        putEscaped(m_mediaBase);
        put(u'/');
    }
    putEscaped(*src);
    put(u"\" alt=\"");
    putEscaped(alt);
    put(u"\">");
}

void MDHtmlWriter::lineBreak() {
    put(u"<br>\n");
}

void MDHtmlWriter::softBreak() {
    put(u'\n');
}

} // namespace quillmere
