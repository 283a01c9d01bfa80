#pragma once

#include <QScrollArea>

class QLabel;
class QVBoxLayout;

namespace quillmere {

class FormSection;

// A screen made of form sections in one scrolling column, under an optional screen title.
class GroupedForm : public QScrollArea {
    Q_OBJECT

public:
    explicit GroupedForm(const QString& title = {}, QWidget* parent = nullptr);

    FormSection* addSection(const QString& title);
    void addWidget(QWidget* widget);

private:
    QVBoxLayout* m_column;
};

} // namespace quillmere
