#include "tools/StreamedTableFile.h"

#include "core/recording/DataFiles.h"

#include <QFileInfo>

namespace voltaro {

StreamedTableFile::StreamedTableFile(FileRotation rotation, QByteArray header,
                                     std::function<void(const std::string&)> say,
                                     TextTableFile::SyncFunction sync, std::chrono::milliseconds period)
    : rotation_(rotation), header_(header.isEmpty() ? datafiles::textHeader() : std::move(header)),
      sync_(std::move(sync)), period_(period), say_(std::move(say)),
      file_(std::make_unique<TextTableFile>(sync_, period_)) {}

StreamedTableFile::~StreamedTableFile() {
    finish();
}

bool StreamedTableFile::openPart(TextTableFile& file, const QDateTime& now, QString* error, QString* made) {
    const QDate date = now.date();
    // A part of that name made meanwhile (another recording into the same
    // folder) is passed over: parts are never replaced.
    int number = FileRotation::nextNumber(path_, date);
    for (int tries = 0; tries < 100; ++tries, ++number) {
        const QString part = FileRotation::partName(path_, date, number);
        if (file.open(part, false, error, header_)) {
            *made = part;
            return true;
        }
        if (!QFileInfo::exists(part))
            return false;
    }
    return false;
}

void StreamedTableFile::setHeader(QByteArray header) {
    header_ = header.isEmpty() ? datafiles::textHeader() : std::move(header);
}

bool StreamedTableFile::open(const QString& path, bool replace, QString* error) {
    path_ = path;
    const QDateTime now = QDateTime::currentDateTime();
    partPath_ = path;
    if (rotation_.on() ? !openPart(*file_, now, error, &partPath_)
                       : !file_->open(path, replace, error, header_))
        return false;
    parts_ = 1;
    partBytes_ = header_.size();
    if (rotation_.every.count() > 0)
        partEnd_ = FileRotation::partEnd(now, rotation_.every);
    return true;
}

bool StreamedTableFile::rotate(const QDateTime& now) {
    if (retryAt_.isValid() && now < retryAt_)
        return false;
    auto next = std::make_unique<TextTableFile>(sync_, period_);
    QString why;
    QString made;
    if (!openPart(*next, now, &why, &made)) {
        retryAt_ = now.addSecs(1);
        if (!std::exchange(toldFailing_, true))
            say_("cannot start the next part (" + why.toLocal8Bit().toStdString() +
                 "): the rows go on into " + partPath_.toLocal8Bit().toStdString() + " until it can be made");
        return false;
    }
    retryAt_ = QDateTime();
    toldFailing_ = false;
    // The rows the finished part could not write lead the next one.
    std::int64_t unwritten = 0;
    const QByteArray lines = file_->takeUnwritten(&unwritten);
    const std::int64_t rows = file_->rowsWritten();
    const QString finished = std::exchange(partPath_, made);
    doneRows_ += rows;
    file_ = std::move(next);
    if (unwritten > 0)
        file_->append(lines, unwritten);
    ++parts_;
    partBytes_ = header_.size() + lines.size();
    partRows_ = unwritten;
    if (rotation_.every.count() > 0)
        partEnd_ = FileRotation::partEnd(now, rotation_.every);
    say_(std::to_string(rows) + " rows in " + finished.toLocal8Bit().toStdString() +
         "; recording goes on into " + partPath_.toLocal8Bit().toStdString());
    return true;
}

void StreamedTableFile::append(const QByteArray& line) {
    if (rotation_.on()) {
        const QDateTime now = QDateTime::currentDateTime();
        const bool timeUp = partEnd_.isValid() && now >= partEnd_;
        const bool full = rotation_.bytes > 0 && partRows_ > 0 &&
                          partBytes_ + line.size() > rotation_.bytes &&
                          file_->health() == TextTableFile::Health::Writing;
        if (timeUp || full)
            rotate(now);
    }
    file_->append(line);
    partBytes_ += line.size();
    ++partRows_;
}

void StreamedTableFile::tick() {
    if (partEnd_.isValid()) {
        const QDateTime now = QDateTime::currentDateTime();
        if (now >= partEnd_)
            rotate(now);
    }
}

bool StreamedTableFile::finish() {
    return file_->finish();
}

TextTableFile::Health StreamedTableFile::health() const {
    return file_->health();
}

QString StreamedTableFile::lastError() const {
    return file_->lastError();
}

std::int64_t StreamedTableFile::rowsWritten() const {
    return doneRows_ + file_->rowsWritten();
}

std::int64_t StreamedTableFile::rowsPending() const {
    return file_->rowsPending();
}

std::int64_t StreamedTableFile::bytesPending() const {
    return file_->bytesPending();
}

} // namespace voltaro
