#include "ui/edit_history.h"

#include "app/app_model.h"

#include <QCoreApplication>

namespace quillmere {

namespace {

class RemoveSubscribers : public QUndoCommand {
public:
    RemoveSubscribers(AppModel& model, QList<std::pair<qsizetype, Subscriber>> removed)
        : m_model(model)
        , m_removed(std::move(removed)) {
        setText(QCoreApplication::translate("EditHistory", "Remove %n Reader(s)", nullptr,
                                            int(m_removed.size())));
        for (const auto& entry : std::as_const(m_removed)) {
            m_ids.insert(entry.second.id);
        }
    }
    void redo() override { m_model.deleteSubscribers(m_ids); }
    void undo() override { m_model.restoreSubscribers(m_removed); }

private:
    AppModel& m_model;
    QList<std::pair<qsizetype, Subscriber>> m_removed; // ascending positions
    QSet<QUuid> m_ids;
};

class DeleteIssue : public QUndoCommand {
public:
    DeleteIssue(AppModel& model, Newsletter issue, qsizetype position)
        : m_model(model)
        , m_issue(std::move(issue))
        , m_position(position) {
        setText(QCoreApplication::translate("EditHistory", "Delete “%1”").arg(m_issue.subject));
    }
    void redo() override { m_model.deleteIssue(m_issue.id); }
    void undo() override { m_model.restoreIssue(m_issue, m_position); }

private:
    AppModel& m_model;
    Newsletter m_issue;
    qsizetype m_position;
};

} // namespace

EditHistory::EditHistory(AppModel& model)
    : QUndoStack(&model)
    , m_model(model) {
    connect(&model, &AppModel::isDemoChanged, this, &QUndoStack::clear);
}

EditHistory& EditHistory::of(AppModel& model) {
    if (auto* history = model.findChild<EditHistory*>(QString(), Qt::FindDirectChildrenOnly)) {
        return *history;
    }
    return *new EditHistory(model);
}

void EditHistory::removeSubscribers(const QSet<QUuid>& ids) {
    QList<std::pair<qsizetype, Subscriber>> removed;
    const QList<Subscriber>& all = m_model.library().subscribers;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (ids.contains(all.at(i).id)) {
            removed.append({i, all.at(i)});
        }
    }
    if (!removed.isEmpty()) {
        push(new RemoveSubscribers(m_model, std::move(removed)));
    }
}

void EditHistory::deleteIssue(const QUuid& id) {
    const QList<Newsletter>& all = m_model.library().newsletters;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (all.at(i).id == id) {
            push(new DeleteIssue(m_model, all.at(i), i));
            return;
        }
    }
}

} // namespace quillmere
