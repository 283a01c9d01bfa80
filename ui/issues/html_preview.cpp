#include "ui/issues/html_preview.h"

#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace quillmere {

namespace {

// The preview shows one email and nothing else: following a link would replace the email with
// a web page (or the placeholder unsubscribe address) inside the editor.
class PreviewPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl&, NavigationType type, bool isMainFrame) override {
        return !(isMainFrame && type == NavigationTypeLinkClicked);
    }
};

} // namespace

HTMLPreview::HTMLPreview(QWidget* parent)
    : QWidget(parent)
    , m_view(new QWebEngineView(this)) {
    m_view->setObjectName(QStringLiteral("htmlPreview"));
    auto* page = new PreviewPage(m_view);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // Pictures of the issue are shown from the library folder; scripts stay off, and the
    // renderer writes file addresses only for the issue's own media/ images.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    m_view->setPage(page);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        restoreScroll();
        Q_EMIT loadFinished(ok);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

void HTMLPreview::setHTML(const QString& html, const QUrl& base) {
    if (html == m_last) {
        return;
    }
    m_last = html;
    ++m_loads;
    // A new page starts at the top; the writer keeps watching the place they were reading.
    // Remembered from the page on screen, not from a load still in progress.
    if (!m_loading) {
        const QWebEnginePage* page = m_view->page();
        const qreal bottom = page->contentsSize().height() - m_view->height();
        m_scroll = page->scrollPosition();
        m_atEnd = m_scroll.y() > 0 && m_scroll.y() >= bottom - 4;
    }
    m_loading = true;
    m_view->setHtml(html, base);
}

void HTMLPreview::restoreScroll() {
    m_loading = false;
    if (m_scroll.isNull()) {
        return;
    }
    // Content scripts stay off; this runs in the application's own world.
    const QString script =
        m_atEnd ? QStringLiteral("window.scrollTo(%1, document.documentElement.scrollHeight)")
                      .arg(m_scroll.x())
                : QStringLiteral("window.scrollTo(%1, %2)").arg(m_scroll.x()).arg(m_scroll.y());
    m_view->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

} // namespace quillmere
