#pragma once

#include <QPushButton>

namespace quillmere {

// The one main action of a screen or page, filled with the accent colour.
class ProminentButton : public QPushButton {
    Q_OBJECT

public:
    explicit ProminentButton(const QString& text, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void restyle();
};

} // namespace quillmere
