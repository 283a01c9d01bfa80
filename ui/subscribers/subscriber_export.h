#pragma once

#include "core/subscriber.h"

#include <QList>
#include <QString>

namespace quillmere {

class AppModel;
class SubscribersView;

// File → Export Subscribers…: the readers the Subscribers screen shows (all of them while no
// status filter or search narrows it), in the order shown, as a CSV file.
namespace SubscriberExport {

// The readers to export: those the screen shows, or every one when there is no screen yet.
QList<Subscriber> chosen(const AppModel& model, const SubscribersView* view);

// The title of the save dialog, saying how many readers go out ("Export 3 of 10 Subscribers").
QString title(qsizetype chosen, qsizetype all);

// Writes the file and reports on the model's status line; an empty path does nothing.
void write(AppModel& model, const QList<Subscriber>& subscribers, const QString& path);

} // namespace SubscriberExport

} // namespace quillmere
