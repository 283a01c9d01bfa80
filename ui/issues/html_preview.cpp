#include "ui/issues/html_preview.h"

#include <QPointer>
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
    // A renderer that went away answers no question: load without the old place.
    connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        if (m_asking) {
            load();
        }
    });
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_shown = m_shown || ok;
        restoreScroll();
        Q_EMIT loadFinished(ok);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

// A page being destroyed answers its pending question; nothing may load into it then.
HTMLPreview::~HTMLPreview() {
    m_asking = false;
}

void HTMLPreview::setHTML(const QString& html, const QUrl& base) {
    if (html == m_last) {
        return;
    }
    m_last = html;
    m_base = base;
    ++m_loads;
    if (m_asking) {
        return; // the answer loads the newest HTML
    }
    // Remembered from the page on screen, not from a load still in progress.
    if (m_loading || !m_shown) {
        load();
        return;
    }
    // A new page starts at the top; the writer keeps watching the place they were reading. The
    // page itself is asked: the view's scroll position can stay at the top after a load while the
    // page is scrolled.
    m_asking = true;
    const QPointer<HTMLPreview> self(this);
    m_view->page()->runJavaScript(
        QStringLiteral("[window.scrollX, window.scrollY, window.scrollY > 0 && window.scrollY + "
                       "window.innerHeight >= document.documentElement.scrollHeight - 4]"),
        QWebEngineScript::ApplicationWorld, [self](const QVariant& answer) {
            if (!self || !self->m_asking) {
                return;
            }
            const QVariantList place = answer.toList();
            if (place.size() == 3) {
                self->m_scroll = QPointF(place[0].toReal(), place[1].toReal());
                self->m_atEnd = place[2].toBool();
            }
            self->load();
        });
}

void HTMLPreview::load() {
    m_asking = false;
    m_loading = true;
    m_view->setHtml(m_last, m_base);
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
