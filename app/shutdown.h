#pragma once

class QCoreApplication;

namespace quillmere {

class AppModel;

// Makes sure the last edits reach the disk however the process ends in an orderly way: when
// the application quits, and on SIGTERM, SIGINT and SIGHUP (logout, `kill`, Ctrl+C), which are
// turned into a normal quit.
void flushOnShutdown(QCoreApplication& application, AppModel& model);

} // namespace quillmere
