#include "core/decoding_error.h"
#include "core/file_error.h"
#include "core/iso_date.h"
#include "core/library_file.h"
#include "core/library_json_writer.h"
#include "core/library_store.h"
#include "core/sample_data.h"
#include "support/run_task.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <qcoro/qcorotask.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quillmere;
using test::runTask;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestLibraryStore : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name = QStringLiteral("Postwick/library.json")) const {
        return m_dir.filePath(name);
    }

private Q_SLOTS:
    void init() { QVERIFY(QDir(m_dir.path()).removeRecursively() && QDir().mkpath(m_dir.path())); }

    void defaultLocationIsTheUserDataFolder() {
        // Tests run with XDG_DATA_HOME pointing into the build tree.
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QCOMPARE(LibraryStore::defaultPath(), base + QStringLiteral("/Postwick/library.json"));
    }

    void missingFileIsTheEmptyLibraryAndCreatesNothing() {
        LibraryStore store(path());
        QCOMPARE(runTask(store.load()), Library());
        QVERIFY(!QDir(m_dir.filePath(QStringLiteral("Postwick"))).exists());

        // The file is our writer's, byte for byte (its format is pinned with the writer).
        Library library = SampleData::library();
        library.subscribers[0].createdAt = *IsoDate::parse(u"2025-03-14T09:26:53.589Z");
        runTask(store.save(library));
        QCOMPARE(readAll(path()), LibraryJSONWriter::write(library));
        QCOMPARE(runTask(store.load()), library);
    }

    void unreadableFileIsKeptBeforeTheNextSave() {
        const QByteArray damaged = "{\"subscribers\": [ {\"email\": \"precious@example.com\"";
        writeAll(path(), damaged);
        LibraryStore store(path());
        QVERIFY_THROWS_EXCEPTION(DecodingError, runTask(store.load()));
        const auto kept = store.backupPath();
        QVERIFY(kept);
        QVERIFY(kept->startsWith(path() + QStringLiteral(".before-")));
        // Nothing happens until something would replace it.
        QVERIFY(!QFile::exists(*kept));
        QCOMPARE(readAll(path()), damaged);

        const Library edited{.profile = {.publicationName = QStringLiteral("Fresh start")}};
        runTask(store.save(edited));
        QCOMPARE(readAll(*kept), damaged);
        QCOMPARE(runTask(store.load()), edited);
        QCOMPARE(store.backupPath(), std::nullopt);

        // Later saves do not make more copies.
        runTask(store.save(Library()));
        QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files).size(), 2);
    }

    // A misspelt list is not read, yet nothing of it is lost: it is written back, the file as it
    // was is kept aside before the first save, and the store says what it could not place.
    void partlyReadFileKeepsWhatItHolds() {
        const QByteArray original =
            R"({"profile": {"publicationName": "P", "fromName": "", "fromEmail": "",
            "replyTo": "", "postalAddress": "", "region": "eu-west-1", "domain": "",
            "workerBaseURL": "", "doubleOptIn": true, "logo": "future.png"},
            "subscriber": [{"email": "precious@example.com"}]})";
        writeAll(path(), original);
        LibraryStore store(path());
        Library library = runTask(store.load());
        QCOMPARE(library.profile.region, QStringLiteral("eu-west-1"));
        QCOMPARE(store.partial()->missing, (QStringList{"subscribers", "newsletters"}));
        QCOMPARE(store.partial()->unread, QStringList{"subscriber"});
        const QString kept = *store.backupPath();

        library.profile.publicationName = QStringLiteral("Edited");
        runTask(store.save(library));
        QCOMPARE(readAll(kept), original);
        const QByteArray saved = readAll(path());
        QVERIFY(saved.contains("\"precious@example.com\""));
        QVERIFY(saved.contains("\"logo\": \"future.png\""));
        QCOMPARE(runTask(store.load()), library);
    }

    // On a full disk the reason is the system's, and the previous file stays whole.
    void fullDiskSaysWhy() {
        const QString disk = qEnvironmentVariable("QUILLMERE_SMALL_DISK");
        if (disk.isEmpty()) {
            QSKIP("needs the 2 MB tmpfs of tests/support/with-small-disk (mounting needs root)");
        }
        const QString file = disk + QStringLiteral("/Postwick/library.json");
        LibraryStore store(file);
        const Library small = SampleData::library();
        runTask(store.save(small));
        Library large = small;
        large.newsletters[0].markdown = QString(3 << 20, u'x');
        try {
            runTask(store.save(large));
            QFAIL("a save larger than the disk must fail");
        } catch (const FileError& error) {
            QCOMPARE(error.description(),
                     QStringLiteral("Could not write %1: No space left on device").arg(file));
        }
        QCOMPARE(LibraryFile::read(file), small);
        QCOMPARE(QDir(disk + QStringLiteral("/Postwick")).entryList(QDir::Files),
                 QStringList{QStringLiteral("library.json")});
    }

    void failedWriteLeavesThePreviousFileIntact() {
        LibraryStore store(path());
        const Library original{.profile = {.publicationName = QStringLiteral("Original")}};
        runTask(store.save(original));
        const QByteArray before = readAll(path());
        const QString folder = QFileInfo(path()).absolutePath();
        QVERIFY(QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7001))); // 0701
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x5001)));       // 0501
        Library changed = original;
        changed.profile.publicationName = QStringLiteral("Changed");
        {
            const test::Unprivileged unprivileged; // root ignores folder permissions
            QVERIFY_THROWS_EXCEPTION(FileError, runTask(store.save(changed)));
        }
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7000)); // 0700
        QCOMPARE(readAll(path()), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("library.json")});
    }

    void onlyTheOwnerMayReadTheLibrary() {
        const QString folder = QFileInfo(path()).absolutePath();
        QDir().mkpath(folder);
        QFile::setPermissions(folder,
                              QFileDevice::Permissions(0x7755)); // as an old version left it
        writeAll(path(), "{\"lastSync\": \"broken\"}");
        LibraryStore store(path());
        QVERIFY_THROWS_EXCEPTION(DecodingError, runTask(store.load()));
        runTask(store.save(Library()));
        const auto mode = [](const QString& p) {
            struct stat info {};
            ::stat(QFile::encodeName(p).constData(), &info);
            return info.st_mode & 0777;
        };
        QCOMPARE(mode(folder), 0700u);
        QCOMPARE(mode(path()), 0600u);
        QCOMPARE(
            mode(QDir(folder).entryInfoList({QStringLiteral("*.before-*")}).first().filePath()),
            0600u);

        // A fresh folder is created owner-only too.
        LibraryStore fresh(m_dir.filePath(QStringLiteral("new/Postwick/library.json")));
        runTask(fresh.save(Library()));
        QCOMPARE(mode(m_dir.filePath(QStringLiteral("new/Postwick"))), 0700u);
    }

    // Saves run in call order, and a blocking save is never overtaken by older queued ones.
    void savesRunInCallOrder() {
        LibraryStore store(path());
        const auto queue = [&store](int count) {
            std::vector<QCoro::Task<void>> saves;
            for (int i = 0; i < count; ++i) {
                saves.push_back(store.save({.profile = {.publicationName = QString::number(i)}}));
            }
            return saves;
        };
        for (auto& save : queue(20)) {
            runTask(std::move(save));
        }
        QCOMPARE(runTask(store.load()).profile.publicationName, QStringLiteral("19"));
        QCOMPARE(store.saveCount(), 20);

        auto older = queue(5);
        store.saveNow({.profile = {.publicationName = QStringLiteral("newest")}});
        for (auto& save : older) {
            runTask(std::move(save));
        }
        store.waitForIdle();
        QCOMPARE(LibraryFile::read(path()).profile.publicationName, QStringLiteral("newest"));
    }
};

QTEST_GUILESS_MAIN(TestLibraryStore)
#include "tst_library_store.moc"
