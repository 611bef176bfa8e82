#pragma once

#include "core/sys/UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace voltaro {

// The folder of the journals: $XDG_STATE_HOME/voltaro-interface, where the
// variable defaults to ~/.local/state.
QString journalFolder();

// The rows a window has recorded that no file holds yet, and what its chart
// drew of them, kept on disk so that a crash, a power cut or a logout loses
// at most the last second of a recording. The lines are in the journal's own
// format (core/recording/JournalFormat.h), which keeps every field as it was.
//
// Each journal holds an exclusive lock on its file for as long as it lives:
// a file nobody holds belongs to a program that is no longer running. The
// file is made on the first row.
//
// The user-interface thread only queues lines; a thread of the journal's
// own writes them and syncs the file, at most once every `period`, so the
// window never waits for the disk. When writing fails, the lines stay
// queued and are tried again each period.
class Journal {
public:
    enum class Health {
        Unused,    // nothing written yet
        Protected, // every row queued up to the last write is on disk
        Failing,   // the last write failed; the rows are only in memory
    };
    // Makes the data written so far durable; 0 or -1 with errno, as fdatasync.
    using SyncFunction = std::function<int(int fd)>;

    // Lines queued beyond this are written without waiting for the period,
    // so a burst of rows (far faster than any meter sends them) never keeps
    // more than this in memory; while writing fails they wait for the period.
    static constexpr qsizetype kWriteEarlyBytes = 4 * 1024 * 1024;

    explicit Journal(QString folder, SyncFunction sync = {},
                     std::chrono::milliseconds period = std::chrono::seconds(1));
    // Writes what is queued. The file stays while it holds rows, for the next
    // start to recover them; otherwise it goes.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Whole lines of the journal's format, holding `rows` recorded rows.
    void append(const QByteArray& lines, qsizetype rows = 1);
    // The rows are saved, or gone with the table: the file keeps its header.
    // Lines appended after it start the file again.
    void empty();
    // The user chose to quit: the file goes, with any it took over.
    void discard();
    // Once this journal holds the rows of another journal's file on disk, that
    // file is removed. `lock` holds the file's lock until then.
    void takeOver(const QString& file, UniqueFd lock);

    // While a hold lives, the writer writes nothing; what was queued meanwhile
    // goes in one write after it ends. The rows of a file taken over are held
    // until it is taken over, so this journal never holds part of its rows
    // beside the file itself.
    class Hold {
    public:
        explicit Hold(Journal& journal);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        Journal& journal_;
    };

    // Rows appended since the journal was made or last emptied.
    qsizetype unsavedRows() const { return unsaved_; }
    Health health() const { return health_.load(); }
    // The file (empty before the first row) and why the last write failed.
    QString path() const;
    QString lastError() const;
    // Successful writes so far; for tests and benchmarks.
    std::uint64_t writes() const { return writes_.load(); }

private:
    struct Batch {
        QByteArray lines;
        qsizetype lineCount = 0;
        bool emptyFirst = false;
        std::vector<std::pair<QString, UniqueFd>> takeOvers;
    };

    void run();
    bool due() const; // under mutex_
    bool write(Batch& batch);
    bool openFile(QString* error);
    void fail(const QString& error);

    const QString folder_;
    const SyncFunction sync_;
    const std::chrono::milliseconds period_;
    qsizetype unsaved_ = 0; // user-interface thread only

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Batch queued_;
    bool stop_ = false;
    bool discarded_ = false;
    int holds_ = 0;
    QString path_;
    QString error_;
    std::chrono::steady_clock::time_point nextWrite_{};

    // The writer's own.
    UniqueFd fd_;
    qint64 headerSize_ = 0;
    qint64 size_ = 0;

    std::atomic<Health> health_{Health::Unused};
    std::atomic<std::uint64_t> writes_{0};
    std::thread thread_;
};

} // namespace voltaro
