#pragma once

#include "core/recording/JournalFormat.h"
#include "core/recording/ReadingTable.h"
#include "core/sys/UniqueFd.h"

#include <QDateTime>
#include <QString>

#include <vector>

namespace voltaro {

// A journal left behind by a window that is no longer running, with the
// whole rows it holds and what its chart drew, in the order it happened. Its
// lock is held here, so no other window offers it at the same time.
struct OrphanJournal {
    QString path;
    UniqueFd lock;
    ReadingTable rows;
    std::vector<journalformat::Entry> entries;
    QDateTime lastWritten;
};

// The journals in `folder` nobody holds, oldest first, each with at least one
// row; those without a row are removed. A line cut short (the power went
// while it was written) is left out, and so is anything after a line that
// does not read. A journal of an earlier version, a text table, reads as
// the text loader reads it, each row plotted at its value text's number.
std::vector<OrphanJournal> findOrphanJournals(const QString& folder);

// Keeps the rows of an orphan the user did not recover in a data file under
// a dated name in the same folder, which no start offers again, removes the
// orphan, and removes all but the newest `kKeptJournals` kept before. The
// file is an XML data packet, which carries every field; only rows holding a
// character XML cannot hold go to a text table (`*textOnly` is then set).
// Returns the file's name, or empty with `*error` when it could not be
// written (the orphan is then offered again at the next start).
inline constexpr int kKeptJournals = 10;
QString keepOrphanJournal(OrphanJournal& orphan, const QString& folder, bool* textOnly, QString* error);

} // namespace voltaro
