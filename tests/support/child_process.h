#pragma once

// Children of a test (peers, application processes) must not outlive it, however it ends: a
// failed check that aborts, a time-out of the runner, SIGKILL. Each child gets its own process
// group (so a kill reaches whatever it started) and is killed by the kernel when the test dies.

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillmere::test {

inline void dieWithTest(QProcess& process) {
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) { // the test died before the line above
            ::_exit(1);
        }
    });
}

// Sends `signal` to the child alone, if it still runs: a child that already ended has no pid,
// and kill(0, …) would signal the test and its runner.
inline void signalChild(QProcess& process, int signal) {
    if (const pid_t pid = pid_t(process.processId()); pid > 0) {
        ::kill(pid, signal);
    }
}

// Kills the child's whole process group and waits for the child.
inline void killGroup(QProcess& process) {
    if (const pid_t pid = pid_t(process.processId()); pid > 0) {
        ::kill(-pid, SIGKILL);
        process.waitForFinished(10000);
    }
}

} // namespace quillmere::test
