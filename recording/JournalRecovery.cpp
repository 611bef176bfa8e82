#include "recording/JournalRecovery.h"

#include "recording/DataFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>

namespace voltaro {

namespace {

const QString kKeptPrefix = QStringLiteral("unsaved-readings-");

} // namespace

std::vector<OrphanJournal> findOrphanJournals(const QString& folder) {
    std::vector<OrphanJournal> found;
    const QDir dir(folder);
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("journal-*.txt")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : files) {
        OrphanJournal o;
        o.path = info.absoluteFilePath();
        o.lock = UniqueFd(::open(QFile::encodeName(o.path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        // Held: its window is running.
        if (!o.lock || ::flock(o.lock.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        QFile file;
        if (!file.open(o.lock.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            continue;
        QByteArray bytes = file.readAll();
        // Whole lines only: the last one may have been cut short.
        bytes.truncate(bytes.lastIndexOf('\n') + 1);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        datafiles::loadText(o.rows, buffer);
        if (o.rows.rowCount() == 0) {
            QFile::remove(o.path);
            continue;
        }
        o.lastWritten = info.lastModified();
        found.push_back(std::move(o));
    }
    return found;
}

QString keepOrphanJournal(OrphanJournal& orphan, const QString& folder) {
    const QString stamp = orphan.lastWritten.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString kept = QStringLiteral("%1/%2%3.txt").arg(folder, kKeptPrefix, stamp);
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = QStringLiteral("%1/%2%3-%4.txt").arg(folder, kKeptPrefix, stamp).arg(n);
    if (!QFile::rename(orphan.path, kept))
        return QString();
    orphan.path = kept;
    orphan.lock.reset();
    // The dated names sort by date.
    QStringList keptFiles = QDir(folder).entryList({kKeptPrefix + QStringLiteral("*.txt")}, QDir::Files,
                                                   QDir::Name | QDir::Reversed);
    for (qsizetype i = kKeptJournals; i < keptFiles.size(); ++i)
        QFile::remove(folder + QLatin1Char('/') + keptFiles[i]);
    return kept;
}

} // namespace voltaro
