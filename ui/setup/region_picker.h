#pragma once

#include <QComboBox>

namespace quillmere {

// The SES regions a writer can send from, in the order Amazon lists them.
class RegionPicker : public QComboBox {
    Q_OBJECT

public:
    explicit RegionPicker(QWidget* parent = nullptr);

    static const QStringList& regions();

    QString region() const { return currentText(); }
    // Selects the region; one outside the list selects nothing.
    void setRegion(const QString& region);

Q_SIGNALS:
    // The writer picked a region (not emitted by setRegion).
    void regionChosen(const QString& region);
};

} // namespace quillmere
