#pragma once

#include <QFrame>

class QPushButton;

namespace quillmere {

class AppModel;

// Floats at the top of its parent while a keychain call waits (an unlock prompt is open, or the
// keychain does not answer), with Cancel to give up on it.
class KeychainWaitBar : public QFrame {
    Q_OBJECT

public:
    KeychainWaitBar(AppModel& model, QWidget* parent);

    QPushButton* cancelButton() const { return m_cancel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void place();

    AppModel& m_model;
    QPushButton* m_cancel;
};

} // namespace quillmere
