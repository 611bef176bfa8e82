#include "core/recording/Journal.h"

#include "core/recording/FileWrites.h"
#include "core/recording/JournalFormat.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace voltaro {

namespace {

using filewrites::errorText;
using filewrites::writeAllAt;

// Makes `folder` and the folders above it that are missing, each readable by
// the user alone: the rows are the user's own business.
bool makeFolder(const QString& folder, QString* error) {
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const QByteArray part = path.left(i);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            *error = QStringLiteral("%1: %2").arg(QFile::decodeName(part), errorText(errno));
            return false;
        }
    }
    return true;
}

std::atomic<unsigned> journalsMade{0};

} // namespace

QString journalFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The variable counts only when it names an absolute path.
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/voltaro-interface");
}

Journal::Journal(QString folder, SyncFunction sync, std::chrono::milliseconds period)
    : folder_(std::move(folder)), sync_(sync ? std::move(sync) : SyncFunction(&::fdatasync)),
      period_(period) {
    thread_ = std::thread([this] { run(); });
}

Journal::~Journal() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (discarded_ || path_.isEmpty())
        return;
    // Lines of the chart alone are no reason to keep it.
    if (unsaved_ == 0)
        QFile::remove(path_);
}

void Journal::append(const QByteArray& lines, qsizetype rows) {
    bool early = false;
    {
        std::lock_guard lock(mutex_);
        queued_.lines.append(lines);
        ++queued_.lineCount;
        early = queued_.lines.size() >= kWriteEarlyBytes;
    }
    unsaved_ += rows;
    if (early)
        changed_.notify_all();
}

void Journal::empty() {
    {
        std::lock_guard lock(mutex_);
        // Lines not yet written are saved now, or gone: none of them is written.
        queued_.lines.clear();
        queued_.lineCount = 0;
        queued_.emptyFirst = true;
    }
    unsaved_ = 0;
    changed_.notify_all();
}

void Journal::discard() {
    std::vector<std::pair<QString, UniqueFd>> takeOvers;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        discarded_ = true;
        queued_.lines.clear();
        queued_.lineCount = 0;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // The writer has ended: what it owned is this thread's now.
    takeOvers = std::move(queued_.takeOvers);
    for (auto& [file, lock] : takeOvers)
        QFile::remove(file);
    if (!path_.isEmpty())
        QFile::remove(path_);
    fd_.reset();
    unsaved_ = 0;
}

void Journal::takeOver(const QString& file, UniqueFd lock) {
    {
        std::lock_guard lock_(mutex_);
        queued_.takeOvers.emplace_back(file, std::move(lock));
    }
    changed_.notify_all();
}

Journal::Hold::Hold(Journal& journal) : journal_(journal) {
    std::lock_guard lock(journal_.mutex_);
    ++journal_.holds_;
}

Journal::Hold::~Hold() {
    {
        std::lock_guard lock(journal_.mutex_);
        --journal_.holds_;
    }
    journal_.changed_.notify_all();
}

QString Journal::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

QString Journal::lastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool Journal::due() const {
    return holds_ == 0 && (queued_.lineCount > 0 || queued_.emptyFirst || !queued_.takeOvers.empty());
}

void Journal::run() {
    // The thread looks once a period: appending a row wakes no one, which
    // keeps recording a reading cheap; only a queue grown past
    // kWriteEarlyBytes does, unless writing is failing or held.
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait_until(lock, nextWrite_, [this] {
            return stop_ || (queued_.lines.size() >= kWriteEarlyBytes && holds_ == 0 &&
                             health_.load() != Health::Failing);
        });
        if (discarded_)
            return;
        if (!due()) {
            if (stop_)
                return;
            nextWrite_ = std::chrono::steady_clock::now() + period_;
            continue;
        }
        Batch batch = std::move(queued_);
        queued_ = Batch{};
        // The period runs from when the rows were taken: a slow sync does not
        // add to the time the next rows wait for the file.
        nextWrite_ = std::chrono::steady_clock::now() + period_;
        lock.unlock();
        const bool written = write(batch);
        lock.lock();
        if (written)
            continue;
        // Tried again next period, before whatever was queued since; unless
        // the rows were emptied meanwhile, which saved them.
        if (!queued_.emptyFirst) {
            batch.lines.append(queued_.lines);
            queued_.lines = std::move(batch.lines);
            queued_.lineCount += batch.lineCount;
            queued_.emptyFirst = batch.emptyFirst;
        }
        for (auto& t : batch.takeOvers)
            queued_.takeOvers.push_back(std::move(t));
        // A stopping journal does not retry: what is left goes with the
        // program, as the message about the failing journal has said.
        if (stop_)
            return;
    }
}

bool Journal::openFile(QString* error) {
    if (!makeFolder(folder_, error))
        return false;
    // Made under a name no one looks for, locked, and only then given its
    // journal name: no other window ever finds it unlocked.
    const unsigned seq = journalsMade.fetch_add(1);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString name = QStringLiteral("journal-%1-%2-%3.txt").arg(stamp).arg(::getpid()).arg(seq);
    const QString making = folder_ + QStringLiteral("/.") + name + QStringLiteral(".new");
    const QString final = folder_ + QLatin1Char('/') + name;
    UniqueFd fd(::open(QFile::encodeName(making).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        *error = QStringLiteral("%1: %2").arg(making, errorText(errno));
        return false;
    }
    int e = 0;
    const QByteArray header = journalformat::header();
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
        !writeAllAt(fd.get(), header.constData(), header.size(), 0, &e) ||
        ::rename(QFile::encodeName(making).constData(), QFile::encodeName(final).constData()) != 0) {
        e = e ? e : errno;
        ::unlink(QFile::encodeName(making).constData());
        *error = QStringLiteral("%1: %2").arg(final, errorText(e));
        return false;
    }
    fd_ = std::move(fd);
    headerSize_ = header.size();
    size_ = headerSize_;
    std::lock_guard lock(mutex_);
    path_ = final;
    return true;
}

bool Journal::write(Batch& batch) {
    QString error;
    if (batch.emptyFirst && fd_) {
        if (::ftruncate(fd_.get(), headerSize_) != 0) {
            fail(QStringLiteral("%1: %2").arg(path(), errorText(errno)));
            return false;
        }
        size_ = headerSize_;
    }
    if (batch.lineCount > 0) {
        if (!fd_ && !openFile(&error)) {
            fail(error);
            return false;
        }
        int e = 0;
        if (!writeAllAt(fd_.get(), batch.lines.constData(), batch.lines.size(), size_, &e)) {
            // No half line stays behind for the next try to follow.
            [[maybe_unused]] const int r = ::ftruncate(fd_.get(), size_);
            fail(QStringLiteral("%1: %2").arg(path(), errorText(e)));
            return false;
        }
        size_ += batch.lines.size();
    }
    if (fd_ && sync_(fd_.get()) != 0) {
        const int e = errno;
        fail(QStringLiteral("%1: %2").arg(path(), errorText(e)));
        if (batch.lineCount > 0) {
            size_ -= batch.lines.size();
            [[maybe_unused]] const int r = ::ftruncate(fd_.get(), size_);
        }
        return false;
    }
    // The rows of the files taken over are on disk here now.
    for (auto& [file, lock] : batch.takeOvers) {
        QFile::remove(file);
        lock.reset();
    }
    batch.takeOvers.clear();
    writes_.fetch_add(1);
    health_ = Health::Protected;
    return true;
}

void Journal::fail(const QString& error) {
    {
        std::lock_guard lock(mutex_);
        error_ = error;
    }
    health_ = Health::Failing;
}

} // namespace voltaro
