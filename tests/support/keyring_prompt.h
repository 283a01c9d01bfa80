#pragma once

#include <QProcess>
#include <QTest>

namespace quillmere::test {

// The writer at the keyring of tests/support/with-keyring: locks it, unlocks it behind the
// app's back, and answers or dismisses the unlock prompt gnome-keyring shows on the display.
class KeyringUser {
public:
    static inline const QString password = QStringLiteral("ci-pass");

    static void lock() { run(QStringLiteral("/usr/bin/python3"), {script(), "lock"}); }
    static void unlock() {
        run(QStringLiteral("/usr/bin/python3"), {script(), "unlock", password});
    }

    // Waits until the prompt is on the display, then types the password into it.
    static void answerPrompt() {
        const QString window = waitForPrompt();
        run(QStringLiteral("xdotool"), {"windowfocus", "--sync", window});
        run(QStringLiteral("xdotool"), {"type", password});
        run(QStringLiteral("xdotool"), {"key", "Return"});
    }
    static void dismissPrompt() {
        run(QStringLiteral("xdotool"), {"windowfocus", "--sync", waitForPrompt()});
        run(QStringLiteral("xdotool"), {"key", "Escape"});
    }
    // Blocks until the prompt shows (xdotool waits for the window itself).
    static QString waitForPrompt() {
        return run(QStringLiteral("xdotool"),
                   {"search", "--sync", "--onlyvisible", "--class", "gcr-prompter"})
            .split('\n')
            .first();
    }
    static bool promptShown() {
        QProcess p;
        p.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--class", "gcr-prompter"});
        p.waitForFinished(30000);
        return !p.readAllStandardOutput().trimmed().isEmpty();
    }

private:
    static QString script() {
        return QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/support/keyring_control.py");
    }
    static QString run(const QString& program, const QStringList& arguments) {
        QProcess p;
        p.start(program, arguments);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) { // a last guard only
            qFatal("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
        }
        return QString::fromUtf8(p.readAllStandardOutput().trimmed());
    }
};

} // namespace quillmere::test
