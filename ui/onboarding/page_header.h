#pragma once

#include <QWidget>

class QLabel;

namespace quillmere {

// The heading of a page of the guided setup: a large title and a line or two under it.
class PageHeader : public QWidget {
    Q_OBJECT

public:
    PageHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    QString title() const;
    QString subtitle() const;

private:
    QLabel* m_title;
    QLabel* m_subtitle;
};

} // namespace quillmere
