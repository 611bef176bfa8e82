#include "core/sys/LinkClaim.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace voltaro {

namespace {

// A key as a file name: anything but letters, digits, '-' and '.' becomes '_'.
QString fileName(const QString& key) {
    QString name = key;
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    return name + QStringLiteral(".claim");
}

// What the holder wrote: "pid\nprogram\n".
LinkClaim::Holder readHolder(int fd) {
    LinkClaim::Holder h;
    char text[256] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return h;
    const QList<QByteArray> lines = QByteArray(text, n).split('\n');
    bool ok = false;
    const long long pid = lines.value(0).toLongLong(&ok);
    if (ok && pid > 0) {
        h.pid = pid;
        h.program = QString::fromLocal8Bit(lines.value(1)).trimmed();
    }
    return h;
}

QString programName() {
    // The program's file name; the kernel's name of the process keeps only
    // 15 characters ("voltaro-interfa").
    if (QCoreApplication::instance())
        return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QFile comm(QStringLiteral("/proc/self/comm"));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll()).trimmed();
    return QString();
}

} // namespace

QString LinkClaim::Holder::describe() const {
    if (pid <= 0)
        return QStringLiteral("another instance of this program");
    return QStringLiteral("%1 (pid %2)")
        .arg(program.isEmpty() ? QStringLiteral("a process") : program)
        .arg(pid);
}

QString LinkClaim::claimFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty()
                               ? QFile::decodeName(runtime) + QStringLiteral("/voltaro-interface")
                               : QDir::tempPath() + QStringLiteral("/voltaro-interface-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(folder);
    ::mkdir(native.constData(), 0700);
    // In a folder others may write to (the temporary one), a folder of that
    // name made by someone else is not used: its claims would be theirs to
    // fake or remove.
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QString();
    return folder;
}

QString LinkClaim::serialKey(const QString& devicePath) {
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) == 0 && S_ISCHR(st.st_mode))
        return QStringLiteral("tty-%1.%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    return QStringLiteral("tty-") + devicePath;
}

QString LinkClaim::cableKey(const QString& portPath, const QString& node) {
    return portPath.isEmpty() ? QStringLiteral("hid-") + node : QStringLiteral("usb-") + portPath;
}

std::unique_ptr<LinkClaim> LinkClaim::take(const QString& key, Holder* holder, QString* error) {
    const QString folder = claimFolder();
    if (folder.isEmpty()) {
        *error = QStringLiteral("no folder of this user's own for the claims");
        return nullptr;
    }
    const QString path = folder + QLatin1Char('/') + fileName(key);
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        *error =
            QStringLiteral("%1 cannot be made: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    // An flock belongs to the open file: a second claim of this process is
    // refused as well, so two links of one program never share a device.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            *error = QStringLiteral("%1 cannot be locked: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        *holder = readHolder(fd.get());
        return nullptr;
    }
    const QByteArray who =
        QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n' + programName().toLocal8Bit() + '\n';
    // Best effort: a claim whose name could not be written still holds; a
    // refusal then names no one.
    const bool named =
        ::ftruncate(fd.get(), 0) == 0 &&
        ::pwrite(fd.get(), who.constData(), static_cast<std::size_t>(who.size()), 0) == who.size();
    static_cast<void>(named);
    return std::unique_ptr<LinkClaim>(new LinkClaim(key, std::move(fd)));
}

} // namespace voltaro
