// The journal's recovery reader on any file left behind, in either format
// (the journal's own lines, or a text table of an earlier version): it is
// read or left out, never a crash. What it recovers is what a window that
// says Yes journals again; if that window dies too, the next start must
// recover the same rows, field by field, and the same chart, and no more.
#include "core/recording/JournalFormat.h"
#include "core/recording/JournalRecovery.h"
#include "fuzz/FuzzInput.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

namespace jf = voltaro::journalformat;

QStringList dump(const voltaro::OrphanJournal& o) {
    QStringList out;
    const voltaro::ReadingTable& t = o.rows;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < voltaro::ReadingTable::FieldCount; ++f)
            cells << (t.isNull(r, f) ? QStringLiteral("<null>") : QLatin1Char('=') + t.text(r, f));
        out << cells.join(QChar(0x1F));
    }
    for (const jf::Entry& e : o.entries)
        out << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(static_cast<int>(e.kind))
                   .arg(e.row)
                   .arg(e.plotted ? QString::number(*e.plotted, 'g', 17) : QStringLiteral("-"))
                   .arg(e.maximum, 0, 'g', 17)
                   .arg(e.minimum, 0, 'g', 17);
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

// What a window that recovers `o` writes into its own journal: each entry
// played back in its order. (The window says a range only when it changes,
// and chart lines only ahead of a row or point; the reader must take more.)
QByteArray journalled(const voltaro::OrphanJournal& o) {
    QByteArray bytes = jf::header();
    for (const jf::Entry& e : o.entries) {
        switch (e.kind) {
        case jf::Entry::Kind::Row: jf::appendRow(o.rows, e.row, e.plotted, bytes); break;
        case jf::Entry::Kind::Point: jf::appendPoint(*e.plotted, bytes); break;
        case jf::Entry::Kind::ChartNew: jf::appendChartNew(bytes); break;
        case jf::Entry::Kind::Scale: jf::appendScale(e.maximum, e.minimum, bytes); break;
        }
    }
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
    if (first.front().entries.size() < static_cast<std::size_t>(first.front().rows.rowCount()))
        voltaro::fuzz::fault("a recovered row without its entry");
    const QStringList once = dump(first.front());
    const QByteArray again = journalled(first.front());
    first.clear();
    clear();
    // Journalled again and left behind, the rows and the chart recover as
    // they were the first time: a text table of an earlier version as it
    // was read, the journal's own lines exactly.
    auto back = recoverOnly(again);
    if (back.empty() || dump(back.front()) != once)
        voltaro::fuzz::fault("a journal of recovered rows recovers to other rows or another chart");
    back.clear();
    clear();
    return 0;
}
