#include "core/recording/JournalRecovery.h"

#include "core/recording/DataFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>

namespace voltaro {

namespace {

const QString kKeptPrefix = QStringLiteral("unsaved-readings-");

// A row of an earlier version's journal as its chart plotted it: the
// displayed number, with either decimal separator; none for an overload or
// a blank, which that journal did not keep.
std::optional<double> plottedValue(QString text) {
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

// The whole lines of `bytes` (the last may have been cut short) into `o`.
void readJournal(QByteArray& bytes, OrphanJournal& o) {
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    if (journalformat::isJournal(bytes)) {
        journalformat::read(bytes, o.rows, o.entries);
        return;
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    datafiles::loadText(o.rows, buffer);
    o.entries.reserve(static_cast<std::size_t>(o.rows.rowCount()));
    for (qsizetype r = 0; r < o.rows.rowCount(); ++r) {
        journalformat::Entry e;
        e.row = r;
        e.plotted = plottedValue(o.rows.text(r, ReadingTable::Value));
        o.entries.push_back(e);
    }
}

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
        readJournal(bytes, o);
        if (o.rows.rowCount() == 0) {
            QFile::remove(o.path);
            continue;
        }
        o.lastWritten = info.lastModified();
        // Written last with the last row or point: the rows' dates count back from it.
        o.rows.setLastRowAt(o.lastWritten.toMSecsSinceEpoch());
        found.push_back(std::move(o));
    }
    return found;
}

QString keepOrphanJournal(OrphanJournal& orphan, const QString& folder, bool* textOnly, QString* error) {
    *textOnly = !datafiles::xmlCanHold(orphan.rows);
    const QString suffix = *textOnly ? QStringLiteral(".txt") : QStringLiteral(".xml");
    const QString stamp = orphan.lastWritten.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString kept = QStringLiteral("%1/%2%3").arg(folder, kKeptPrefix, stamp) + suffix;
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = QStringLiteral("%1/%2%3-%4").arg(folder, kKeptPrefix, stamp).arg(n) + suffix;
    const auto saved =
        *textOnly ? datafiles::saveText(orphan.rows, kept) : datafiles::saveXml(orphan.rows, kept);
    if (!saved.ok) {
        *error = saved.error;
        return QString();
    }
    // The rows are in the kept file: the journal goes while its lock is held.
    QFile::remove(orphan.path);
    orphan.lock.reset();
    orphan.path = kept;
    // The dated names sort by date, whichever format each is.
    QStringList keptFiles =
        QDir(folder).entryList({kKeptPrefix + QStringLiteral("*.txt"), kKeptPrefix + QStringLiteral("*.xml")},
                               QDir::Files, QDir::Name | QDir::Reversed);
    for (qsizetype i = kKeptJournals; i < keptFiles.size(); ++i)
        QFile::remove(folder + QLatin1Char('/') + keptFiles[i]);
    return kept;
}

} // namespace voltaro
