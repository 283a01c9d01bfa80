#pragma once

#include <QLabel>

namespace quillmere {

// The title over a group of rows in a form or a screen ("Compliance checks", "Audience").
class SectionHeader : public QLabel {
    Q_OBJECT

public:
    explicit SectionHeader(const QString& title, QWidget* parent = nullptr);
};

} // namespace quillmere
