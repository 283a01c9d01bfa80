// Saves a different large library through the store, step after step, until it is killed.
// Prints "saved <step>" after each completed save.
#include "core/library_store.h"
#include "saver_states.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    quillmere::LibraryStore store(app.arguments().value(1));
    for (int step = 0;; ++step) {
        store.saveNow(quillmere::test::saverState(step));
        std::printf("saved %d\n", step);
        std::fflush(stdout);
    }
}
