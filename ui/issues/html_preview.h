#pragma once

#include <QPointF>
#include <QUrl>
#include <QWidget>

class QWebEngineView;

namespace quillmere {

// The rendered email in an embedded browser with scripts off. It reloads only when the HTML
// differs from what it last loaded, and a reload returns to where the writer was reading.
class HTMLPreview : public QWidget {
    Q_OBJECT

public:
    explicit HTMLPreview(QWidget* parent = nullptr);
    ~HTMLPreview() override;

    // `base`: the folder the page may show local pictures from (the issue's own images).
    void setHTML(const QString& html, const QUrl& base = {});
    // The HTML most recently loaded.
    const QString& last() const { return m_last; }
    // How many times a page was loaded.
    int loadCount() const { return m_loads; }
    QWebEngineView* view() const { return m_view; }

Q_SIGNALS:
    void loadFinished(bool ok);

private:
    void load();
    void restoreScroll();

    QWebEngineView* m_view;
    QPointF m_scroll;     // where the writer was reading when the page was replaced
    bool m_atEnd = false; // at the end of the email, which stays in view as it grows
    bool m_loading = false;
    bool m_asking = false; // the page is being asked where the writer is reading
    bool m_shown = false;  // a page finished loading, so there is a place to keep
    QUrl m_base;
    QString m_last;
    int m_loads = 0;
};

} // namespace quillmere
