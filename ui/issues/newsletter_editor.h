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
    QLabel* fixLabel() const { return m_fixLabel; }
    QPushButton* sendToListButton() const { return m_sendToList; }
    MarkdownEditor* markdownEditor() const { return m_markdown; }
    HTMLPreview* preview() const { return m_preview; }
    // The send sheet while it is open.
    SendSheet* sendSheet() const { return m_sheet; }

    void openSendSheet();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void edited();
    void storedChanged();
    void refreshActions();
    void refreshPreview();
    void sendTest();
    void openSheetOnLaunch();

    AppModel& m_model;
    std::optional<Newsletter> m_issue;

    QLineEdit* m_subject;
    QLineEdit* m_previewText;
    QComboBox* m_template;
    QLineEdit* m_testAddress;
    QPushButton* m_sendTest;
    QWidget* m_fix;
    QLabel* m_fixLabel;
    QPushButton* m_sendToList;
    MarkdownEditor* m_markdown;
    HTMLPreview* m_preview;
    QPointer<SendSheet> m_sheet;
    QTimer m_previewTimer;
};

} // namespace quillmere
