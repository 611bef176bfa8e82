#include "core/recording/TextTableFile.h"

#include "core/recording/DataFiles.h"
#include "core/recording/FileWrites.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace voltaro {

using filewrites::errorText;
using filewrites::writeAllAt;

TextTableFile::TextTableFile(SyncFunction sync, std::chrono::milliseconds period)
    : sync_(sync ? std::move(sync) : SyncFunction(&::fdatasync)), period_(period) {}

TextTableFile::~TextTableFile() {
    finish();
}

namespace {

// Gives the file made under `made` the name `path`: replacing a file there
// only with `replace`. 0, or the errno of the failure.
int giveName(const QByteArray& made, const QByteArray& path, bool replace) {
    if (replace)
        return ::rename(made.constData(), path.constData()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, made.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that rename: a second name, then the first goes.
    if (::link(made.constData(), path.constData()) != 0)
        return errno;
    ::unlink(made.constData());
    return 0;
}

} // namespace

bool TextTableFile::open(const QString& path, bool replace, QString* error, const QByteArray& firstLine) {
    const QByteArray native = QFile::encodeName(path);
    const QFileInfo info(path);
    // Made under a hidden name and named only once its header is on disk: a
    // program killed meanwhile leaves no file that does not load, and an
    // existing file replaced stays whole until then.
    const QByteArray made = QFile::encodeName(
        info.absolutePath() + QStringLiteral("/.%1.%2.new").arg(info.fileName()).arg(::getpid()));
    const auto fail = [&](int e) {
        *error = e == EEXIST ? QStringLiteral("%1 exists already").arg(path)
                             : QStringLiteral("%1: %2").arg(path, errorText(e));
        return false;
    };
    if (!replace && QFileInfo::exists(path))
        return fail(EEXIST);
    UniqueFd fd(::open(made.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd)
        return fail(errno);
    const QByteArray header = firstLine.isEmpty() ? datafiles::textHeader() : firstLine;
    int e = 0;
    if (!writeAllAt(fd.get(), header.constData(), header.size(), 0, &e) || sync_(fd.get()) != 0)
        e = e ? e : errno;
    else
        e = giveName(made, native, replace);
    if (e != 0) {
        fd.reset();
        ::unlink(made.constData());
        return fail(e);
    }
    // A file named just now survives a power cut only once its folder is synced too.
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    if (UniqueFd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
        ::fsync(dir.get());
    path_ = path;
    fd_ = std::move(fd);
    size_ = header.size();
    thread_ = std::thread([this] { run(); });
    return true;
}

void TextTableFile::append(const QByteArray& line, std::int64_t rows) {
    std::lock_guard lock(mutex_);
    queued_.append(line);
    queuedRows_ += rows;
}

bool TextTableFile::finish() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    return rowsPending() == 0;
}

QByteArray TextTableFile::takeUnwritten(std::int64_t* rows) {
    finish();
    std::lock_guard lock(mutex_);
    *rows = std::exchange(queuedRows_, 0);
    return std::exchange(queued_, QByteArray());
}

QString TextTableFile::lastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::int64_t TextTableFile::rowsPending() const {
    std::lock_guard lock(mutex_);
    return queuedRows_ + inFlightRows_;
}

std::int64_t TextTableFile::bytesPending() const {
    std::lock_guard lock(mutex_);
    return queued_.size() + inFlightBytes_;
}

void TextTableFile::run() {
    // The thread looks once a period: appending a row wakes no one.
    auto next = std::chrono::steady_clock::now() + period_;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait_until(lock, next, [this] { return stop_; });
        if (queuedRows_ == 0) {
            if (stop_)
                return;
            next = std::chrono::steady_clock::now() + period_;
            continue;
        }
        QByteArray lines = std::move(queued_);
        queued_ = QByteArray();
        inFlightRows_ = std::exchange(queuedRows_, 0);
        inFlightBytes_ = lines.size();
        // The period runs from when the rows were taken: a slow sync does not
        // add to the time the next rows wait for the file.
        next = std::chrono::steady_clock::now() + period_;
        lock.unlock();
        const bool written = write(lines);
        lock.lock();
        if (written) {
            written_ += inFlightRows_;
        } else {
            // Tried again next period, before whatever was queued since.
            lines.append(queued_);
            queued_ = std::move(lines);
            queuedRows_ += inFlightRows_;
        }
        inFlightRows_ = 0;
        inFlightBytes_ = 0;
        // A file being finished gets one last try.
        if (stop_ && !written)
            return;
    }
}

bool TextTableFile::write(const QByteArray& lines) {
    int e = 0;
    if (!writeAllAt(fd_.get(), lines.constData(), lines.size(), size_, &e)) {
        // No half line stays behind for the next try to follow.
        [[maybe_unused]] const int r = ::ftruncate(fd_.get(), size_);
        fail(e);
        return false;
    }
    if (sync_(fd_.get()) != 0) {
        e = errno;
        [[maybe_unused]] const int r = ::ftruncate(fd_.get(), size_);
        fail(e);
        return false;
    }
    size_ += lines.size();
    writes_.fetch_add(1);
    health_ = Health::Writing;
    return true;
}

void TextTableFile::fail(int error) {
    {
        std::lock_guard lock(mutex_);
        error_ = QStringLiteral("%1: %2").arg(path_, errorText(error));
    }
    health_ = Health::Failing;
}

} // namespace voltaro
