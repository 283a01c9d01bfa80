#pragma once

#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

namespace quillmere::Confirmation {

// Asks before a destructive step, window-modal and without blocking the event loop: `perform`
// runs only when the writer chooses the action button. Returns the open box (tests answer it).
QMessageBox* ask(QWidget* parent, const QString& question, const QString& detail,
                 const QString& action, std::function<void()> perform);

} // namespace quillmere::Confirmation
