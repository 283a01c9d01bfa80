#include "ui/issues/html_preview.h"

#include <QVBoxLayout>
#include <QWebEnginePage>
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
    connect(m_view, &QWebEngineView::loadFinished, this, &HTMLPreview::loadFinished);

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
    m_view->setHtml(html, base);
}

} // namespace quillmere
