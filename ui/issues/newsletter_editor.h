#pragma once

#include "core/newsletter.h"
#include "ui/issues/send_sheet.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace quillmere {

class AppModel;
class HTMLPreview;
class MarkdownEditor;

// The editor of the selected issue. It works on a copy that it loads when the selection
// changes and hands every change back to the model, whose debounced save keeps it.
class NewsletterEditor : public QWidget {
    Q_OBJECT

public:
    explicit NewsletterEditor(AppModel& model, QWidget* parent = nullptr);

    // The working copy of the issue being edited.
    const std::optional<Newsletter>& issue() const { return m_issue; }

    QLineEdit* subjectField() const { return m_subject; }
    QLineEdit* previewTextField() const { return m_previewText; }
    QComboBox* templatePicker() const { return m_template; }
    QLineEdit* testAddressField() const { return m_testAddress; }
    QPushButton* sendTestButton() const { return m_sendTest; }
    // "N to fix": its tooltip lists the blocking findings, a click shows them.
    QToolButton* fixButton() const { return m_fix; }
    // Whether the findings shown by a click on "N to fix" are open.
    QWidget* findingsPopup() const { return m_findings; }
    QPushButton* sendToListButton() const { return m_sendToList; }
    MarkdownEditor* markdownEditor() const { return m_markdown; }
    HTMLPreview* preview() const { return m_preview; }
    // A sent issue is read-only: its text stays what readers received. This offers a copy.
    QPushButton* duplicateButton() const { return m_duplicate; }
    // The send sheet while it is open.
    SendSheet* sendSheet() const { return m_sheet; }

    void openSendSheet();

protected:
    void showEvent(QShowEvent* event) override;
    // Lets Ctrl+K reach the Edit menu's Link from the text, where the platform's keys would
    // delete to the end of the line.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void edited();
    void storedChanged();
    void refreshActions();
    void refreshPreview();
    void sendTest();
    void openSheetOnLaunch();
    void showFindings();
    void applyReadOnly();
    QStringList blockingFindings() const;

    AppModel& m_model;
    std::optional<Newsletter> m_issue;

    QLineEdit* m_subject;
    QLineEdit* m_previewText;
    QComboBox* m_template;
    QLineEdit* m_testAddress;
    QPushButton* m_sendTest;
    QToolButton* m_fix;
    QPushButton* m_sendToList;
    QWidget* m_sentBanner;
    QPushButton* m_duplicate;
    QPointer<QWidget> m_findings;
    MarkdownEditor* m_markdown;
    HTMLPreview* m_preview;
    QPointer<SendSheet> m_sheet;
    QTimer m_previewTimer;
};

} // namespace quillmere
