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

namespace voltaro {

// A text table (or CSV) written to a file of the user's choosing while rows are
// recorded: the header when the file is made, then each row's line as it
// comes. The recording thread only queues lines; a thread of the file's own
// writes and syncs them at most once every `period`, so the file holds every
// row but those of the last period, and a killed program leaves a table that
// loads up to its last whole line.
//
// A write that fails (the disk is full) is taken back to the last whole line;
// the lines stay queued and are tried again each period.
class TextTableFile {
public:
    enum class Health {
        Writing, // every row queued up to the last write is on disk
        Failing, // the last write failed; rows wait in memory
    };
    // Makes the data written so far durable; 0 or -1 with errno, as fdatasync.
    using SyncFunction = std::function<int(int fd)>;

    explicit TextTableFile(SyncFunction sync = {},
                           std::chrono::milliseconds period = std::chrono::seconds(1));
    // Writes what is queued, once, as finish() does.
    ~TextTableFile();
    TextTableFile(const TextTableFile&) = delete;
    TextTableFile& operator=(const TextTableFile&) = delete;

    // Makes `path` with the header line on disk and starts writing. An
    // existing file is replaced only with `replace`. False, with `error`
    // set, when the file cannot be made. `header` is the first line, with
    // its line end; the text table's when empty.
    bool open(const QString& path, bool replace, QString* error, const QByteArray& header = {});

    // One row's text line with its CR LF; or `rows` whole lines at once.
    void append(const QByteArray& line, std::int64_t rows = 1);
    // Writes what is queued now, once, and stops; true when every row
    // appended is on disk.
    bool finish();
    // After finish(): the lines that did not reach the disk, taken out of
    // the file's keeping (for the next file to write), with their number.
    QByteArray takeUnwritten(std::int64_t* rows);

    Health health() const { return health_.load(); }
    QString lastError() const;
    // Rows on disk, and rows appended that are not yet.
    std::int64_t rowsWritten() const { return written_.load(); }
    std::int64_t rowsPending() const;
    // Bytes of the rows waiting, which grow while writing fails.
    std::int64_t bytesPending() const;
    // Successful writes so far; for tests and benchmarks.
    std::uint64_t writes() const { return writes_.load(); }

private:
    void run();
    bool write(const QByteArray& lines);
    void fail(int error);

    const SyncFunction sync_;
    const std::chrono::milliseconds period_;
    QString path_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QByteArray queued_;
    std::int64_t queuedRows_ = 0;
    qint64 inFlightBytes_ = 0; // taken by the writer, not yet on disk
    std::int64_t inFlightRows_ = 0;
    bool stop_ = false;
    QString error_;

    // The writer's own.
    UniqueFd fd_;
    qint64 size_ = 0;

    std::atomic<Health> health_{Health::Writing};
    std::atomic<std::int64_t> written_{0};
    std::atomic<std::uint64_t> writes_{0};
    std::thread thread_;
};

} // namespace voltaro
