#pragma once

#include <QSet>
#include <QUndoStack>
#include <QUuid>

namespace quillmere {

class AppModel;

// What Edit → Undo brings back for the rest of the session: readers removed and issues
// deleted. One history per model, shared by every screen and the Edit menu; it starts afresh
// when the sample library comes or goes.
class EditHistory : public QUndoStack {
    Q_OBJECT

public:
    static EditHistory& of(AppModel& model);

    void removeSubscribers(const QSet<QUuid>& ids);
    void deleteIssue(const QUuid& id);

private:
    explicit EditHistory(AppModel& model);

    AppModel& m_model;
};

} // namespace quillmere
