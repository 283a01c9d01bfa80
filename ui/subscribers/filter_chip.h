#pragma once

#include <QAbstractButton>

namespace quillmere {

// A rounded filter button: its title, then a count in the secondary colour.
class FilterChip : public QAbstractButton {
    Q_OBJECT

public:
    FilterChip(const QString& title, QWidget* parent = nullptr);

    QString title() const { return text(); }
    qint64 count() const { return m_count; }
    void setCount(qint64 count);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshName();

    QString countText() const;

    qint64 m_count = 0;
    bool m_selected = false;
};

} // namespace quillmere
