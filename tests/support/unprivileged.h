#pragma once

#include <QtGlobal>

#include <unistd.h>

namespace quillmere::test {

// While alive, file permissions apply to this process even when it runs as root (CI does):
// the effective user becomes "nobody", for every thread of the process.
struct Unprivileged {
    const bool wasRoot = ::geteuid() == 0;
    Unprivileged() {
        if (wasRoot && ::seteuid(65534) != 0) {
            qFatal("cannot drop privileges");
        }
    }
    ~Unprivileged() {
        if (wasRoot && ::seteuid(0) != 0) {
            qFatal("cannot restore privileges");
        }
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;
};

} // namespace quillmere::test
