// The journal's recovery reader on any file left behind: it is read or left
// out, never a crash. What it recovers is what a window that says Yes
// journals again; if that window dies too, the next start must recover the
// same rows, and no more.
#include "fuzz/FuzzInput.h"
#include "recording/DataFiles.h"
#include "recording/JournalRecovery.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

namespace {

QStringList dump(const voltaro::ReadingTable& t) {
    QStringList out;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        // NVal is not in a text table, so not in a journal.
        for (int f = 0; f < voltaro::ReadingTable::FieldCount; ++f)
            if (f != voltaro::ReadingTable::NVal)
                cells << (t.isNull(r, f) ? QStringLiteral("<null>") : t.text(r, f));
        out << cells.join(QChar(0x1F));
    }
    return out;
}

// The folder of journals, one for the whole run.
const QString& folder() {
    static QTemporaryDir dir;
    static const QString path = dir.isValid() ? dir.path() : QString();
    if (path.isEmpty())
        voltaro::fuzz::fault("no temporary folder");
    return path;
}

void leave(const QString& name, const QByteArray& bytes) {
    QFile f(folder() + QLatin1Char('/') + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        voltaro::fuzz::fault("cannot write a journal for the reader");
}

// What a window that recovers `rows` writes into its own journal.
QByteArray journalled(const voltaro::ReadingTable& rows) {
    QByteArray bytes = voltaro::datafiles::textHeader();
    for (qsizetype r = 0; r < rows.rowCount(); ++r)
        bytes += voltaro::datafiles::textLine(rows, r);
    return bytes;
}

std::vector<voltaro::OrphanJournal> recoverOnly(const QByteArray& bytes) {
    leave(QStringLiteral("journal-fuzz.txt"), bytes);
    auto found = voltaro::findOrphanJournals(folder());
    if (found.size() > 1)
        voltaro::fuzz::fault("one file left behind, more than one journal offered");
    return found;
}

// The reader makes no file of its own: removing the one left is enough.
void clear() {
    QFile::remove(folder() + QStringLiteral("/journal-fuzz.txt"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto first = recoverOnly(bytes);
    // A journal without a row is removed, one with rows is kept until the user decides.
    const bool left = QFile::exists(folder() + QStringLiteral("/journal-fuzz.txt"));
    if (left != !first.empty())
        voltaro::fuzz::fault("a journal without rows was kept, or one with rows removed");
    if (first.empty()) {
        clear();
        return 0;
    }
    const voltaro::ReadingTable rows = std::move(first.front().rows);
    first.clear();
    clear();

    // The rows recovered, journalled again: the reader reads that journal
    // from memory here as it does from a file, and the files were gone
    // through just above and are again below.
    QByteArray once = journalled(rows);
    QBuffer buffer(&once);
    buffer.open(QIODevice::ReadOnly);
    voltaro::ReadingTable again;
    voltaro::datafiles::loadText(again, buffer);
    if (again.rowCount() != rows.rowCount())
        voltaro::fuzz::fault("rows recovered and journalled again are not all recovered again");
    // The writer trims blanks and writes empty texts as NULL, so the first
    // recovery may differ in those; from then on the rows stay as they are.
    auto back = recoverOnly(journalled(again));
    if (back.empty() || dump(back.front().rows) != dump(again))
        voltaro::fuzz::fault("a journal of recovered rows recovers to other rows");
    back.clear();
    clear();
    return 0;
}
