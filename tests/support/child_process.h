#pragma once

// Children of a test (peers, application processes) must not outlive it, however it ends: a
// failed check that aborts, a time-out of the runner, SIGKILL. Each child gets its own process
// group (so a kill reaches whatever it started) and is killed by the kernel when the test dies.
// The kernel's signal reaches the child alone, so a watcher in the same group kills whatever the
// child started too (workerd under Miniflare) once the test is gone.

#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillmere::test {

inline void dieWithTest(QProcess& process) {
    // Only the test holds the write end, for as long as it lives (close-on-exec, and the watcher
    // closes what it inherits): the watcher reads end of file once the test has ended.
    int testAlive[2] = {-1, -1};
    if (::pipe2(testAlive, O_CLOEXEC) != 0) {
        qFatal("no pipe for a child's watcher");
    }
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, testAlive] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) { // the test died before the line above
            ::_exit(1);
        }
        if (::fork() == 0) {
            const int quiet = ::open("/dev/null", O_RDWR);
            for (int fd = 0; fd < 3; ++fd) {
                ::dup2(quiet, fd);
            }
            ::dup2(testAlive[0], 3);
            ::close_range(4, ~0U, 0);
            char byte;
            while (::read(3, &byte, 1) < 0) {
            }
            ::kill(0, SIGKILL);
            ::_exit(0);
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
