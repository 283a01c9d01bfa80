#include "ui/widgets/confirmation.h"

#include <QMessageBox>
#include <QPushButton>

namespace quillmere::Confirmation {

QMessageBox* ask(QWidget* parent, const QString& question, const QString& detail,
                 const QString& action, std::function<void()> perform) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, question, question, QMessageBox::Cancel, parent);
    box->setObjectName(QStringLiteral("confirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setInformativeText(detail);
    QPushButton* confirm = box->addButton(action, QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirm"));
    // Return keeps what is there; the destructive choice takes a deliberate click or Tab.
    box->setDefaultButton(QMessageBox::Cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [confirm, perform = std::move(perform)](QAbstractButton* clicked) {
                         if (clicked == confirm) {
                             perform();
                         }
                     });
    box->open();
    return box;
}

} // namespace quillmere::Confirmation
