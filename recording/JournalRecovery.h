#pragma once

#include "link/UniqueFd.h"
#include "recording/ReadingTable.h"

#include <QDateTime>
#include <QString>

#include <vector>

namespace voltaro {

// A journal left behind by a window that is no longer running, with the
// whole rows it holds. Its lock is held here, so no other window offers it
// at the same time.
struct OrphanJournal {
    QString path;
    UniqueFd lock;
    ReadingTable rows;
    QDateTime lastWritten;
};

// The journals in `folder` nobody holds, oldest first, each with at least one
// row; those without a row are removed. A line cut short (the power went
// while it was written) is left out, and so is anything after a line that
// does not read.
std::vector<OrphanJournal> findOrphanJournals(const QString& folder);

// Keeps an orphan the user did not recover under a dated name in the same
// folder, which no start offers again, and removes all but the newest
// `kKeptJournals` kept before. Returns the new name, or empty when it could
// not be renamed (it is then offered again at the next start).
inline constexpr int kKeptJournals = 10;
QString keepOrphanJournal(OrphanJournal& orphan, const QString& folder);

} // namespace voltaro
