#pragma once

#include "core/recording/TextTableFile.h"
#include "tools/FileRotation.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace voltaro {

// voltaro-log's output file as its rows stream into it: one TextTableFile,
// or with a rotation a series of them, each part a whole table with its
// header line, named FILE-DATE-NUMBER (FileRotation::partName). The format is
// the caller's: the header and each row's line, with their line ends, so any
// table written line by line streams through it.
//
// A new part is made before the old one is finished, and the rows the old
// one could not write go first into the new one: a row is in one part only,
// and the parts hold the rows in the order they came. A part that cannot be
// made leaves the rows going into the one being written, and is tried again
// each second. Runs on the recording thread; each part has its writer thread.
class StreamedTableFile {
public:
    // `say` tells the user of a part finished, or one that cannot be made.
    // `sync` and `period` are each part's (TextTableFile's), for tests.
    StreamedTableFile(FileRotation rotation, QByteArray header, std::function<void(const std::string&)> say,
                      TextTableFile::SyncFunction sync = {},
                      std::chrono::milliseconds period = std::chrono::seconds(1));
    ~StreamedTableFile();
    StreamedTableFile(const StreamedTableFile&) = delete;
    StreamedTableFile& operator=(const StreamedTableFile&) = delete;

    // The header line of every part from now on (before open(): one the
    // caller knows only once its settings are made, as CSV's separator).
    void setHeader(QByteArray header);
    // Makes the file (with a rotation: the first part, never replacing one);
    // false with `error` set when it cannot be made.
    bool open(const QString& path, bool replace, QString* error);
    // A row's line: a part whose time is up, or that the line would take
    // past the size, is finished first and the line starts the next. A part
    // whose file cannot be written is not left for its size: its rows would
    // only move on to the next, file after file; it grows until it can be.
    void append(const QByteArray& line);
    // Once a second: a part whose time is up is finished and the next made,
    // whether or not a row comes.
    void tick();
    // Completes the part being written; true when every row is on disk.
    bool finish();

    TextTableFile::Health health() const;
    QString lastError() const;
    // Over every part: rows on disk, and rows waiting.
    std::int64_t rowsWritten() const;
    std::int64_t rowsPending() const;
    std::int64_t bytesPending() const;
    // The file, or the part, being written; and how many parts were made.
    QString path() const { return partPath_; }
    int parts() const { return parts_; }

private:
    bool rotate(const QDateTime& now);
    bool openPart(TextTableFile& file, const QDateTime& now, QString* error, QString* made);

    const FileRotation rotation_;
    QByteArray header_;
    const TextTableFile::SyncFunction sync_;
    const std::chrono::milliseconds period_;
    const std::function<void(const std::string&)> say_;
    QString path_;     // as the user named it
    QString partPath_; // the part being written
    std::unique_ptr<TextTableFile> file_;
    std::int64_t doneRows_ = 0; // on disk in finished parts
    std::int64_t partBytes_ = 0;
    std::int64_t partRows_ = 0;
    QDateTime partEnd_;
    QDateTime retryAt_; // a part that could not be made is tried again then
    int parts_ = 0;
    bool toldFailing_ = false;
};

} // namespace voltaro
