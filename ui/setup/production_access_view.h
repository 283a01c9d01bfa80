#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillmere {

class AppModel;

// The "Production Access" screen: why Amazon asks, three answers, and the request text written
// from them and the profile, ready to copy.
class ProductionAccessView : public QWidget {
    Q_OBJECT

public:
    ProductionAccessView(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* websiteField() const { return m_website; }
    QPlainTextEdit* listSourceField() const { return m_listSource; }
    QLineEdit* volumeField() const { return m_volume; }
    QLabel* requestLabel() const { return m_request; }
    QPushButton* copyButton() const { return m_copy; }
    QString requestText() const;

private:
    void refresh();

    AppModel& m_model;
    QLineEdit* m_website;
    QPlainTextEdit* m_listSource;
    QLineEdit* m_volume;
    QLabel* m_request;
    QPushButton* m_copy;
};

} // namespace quillmere
