#include "widgets/recording/RecordingRegion.h"

#include "core/recording/DataFiles.h"
#include "core/recording/InputRules.h"
#include "core/recording/ReadingTableModel.h"
#include "core/session/MeterSession.h"
#include "widgets/recording/CellPictures.h"
#include "widgets/recording/FileWork.h"
#include "widgets/recording/PanelPictures.h"
#include "widgets/recording/ReportView.h"
#include "widgets/ui/Layout.h"
#include "widgets/ui/Pictures.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace voltaro {

using ui::place;

namespace {

// The region's top left corner in the client area; the stored places below
// are the client area's.
constexpr int kLeft = 1;
constexpr int kTop = 210;

template <typename W> W* placeInClient(W* w, const char* name, int x, int y, int width, int height) {
    return place(w, name, x - kLeft, y - kTop, width, height);
}

QToolButton* recordButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon, int x,
                          int w) {
    return ui::speedButton(parent, name, hint, icon, x - kLeft, 0, w, 21);
}

QFont gridFont(int pixels) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    return f;
}

} // namespace

RecordingRegion::RecordingRegion(QWidget* parent, QWidget* outside, const LimitItems& limits,
                                 MeterSession& session)
    : QWidget(parent), recording_(session.recording()), pipeline_(session.pipeline()),
      cds1(recording_.table()), recorder_(recording_.recorder()), limits_(limits) {
    MeterPipeline& pipeline = session.pipeline();
    place(this, "RecordingRegion", kLeft, kTop, 334, 263);

    RepeatSet = placeInClient(new QCheckBox(QStringLiteral("Repeat"), this), "RepeatSet", 1, 210, 54, 20);
    RepeatSet->setToolTip(QStringLiteral("Repeage Record"));
    RepeatSet->setChecked(true);
    RecordSI = placeInClient(new QCheckBox(QStringLiteral("Sampling Interval           'S"), this),
                             "RecordSI", 55, 210, 143, 20);
    // The stored captions fit their boxes only with a tighter indicator and a
    // 10-pixel face; the edit covers the gap in the sampling caption.
    for (QCheckBox* box : {RepeatSet, RecordSI}) {
        box->setFont(ui::uiFont(10));
        box->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    }
    RecordSITime = placeInClient(new QLineEdit(QStringLiteral("10"), this), "RecordSITime", 157, 210, 27, 21);
    connect(RepeatSet, &QCheckBox::clicked, this, &RecordingRegion::optionClicked);
    connect(RecordSITime, &QLineEdit::textChanged, this, &RecordingRegion::RecordSITimeChange);
    RecordSITime->installEventFilter(this);

    RecordNew = recordButton(this, "RecordNew", QStringLiteral("Close Data"), pictures::closeData(), 246, 23);
    OpenDataFiles = recordButton(this, "OpenDataFiles", QStringLiteral("Open old data files"),
                                 pictures::openFile(), 268, 23);
    saveas = recordButton(this, "saveas", QStringLiteral("Save data files"), pictures::saveFile(), 290, 23);
    BtPrint = recordButton(this, "BtPrint", QStringLiteral("Print"), pictures::print(), 312, 22);
    connect(RecordNew, &QToolButton::clicked, this, &RecordingRegion::RecordNewClick);
    connect(OpenDataFiles, &QToolButton::clicked, this, &RecordingRegion::SpeedButton2Click);
    connect(saveas, &QToolButton::clicked, this, &RecordingRegion::saveasClick);
    connect(BtPrint, &QToolButton::clicked, this, &RecordingRegion::BtPrintClick);

    DBGrid1 = placeInClient(new QTableView(this), "DBGrid1", 1, 232, 334, 241);
    Data1 = new ReadingTableModel(cds1, this);
    Data1->setObjectName(QStringLiteral("Data1"));
    DBGrid1->setModel(Data1);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setFont(gridFont(12));
    DBGrid1->horizontalHeader()->setFont(ui::uiFont(11));
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->horizontalHeader()->setHighlightSections(false);
    // Every row the same height, so a long recording scrolls without measuring rows.
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->setWordWrap(false);
    DBGrid1->setItemDelegate(new CellPictures(DBGrid1));
    for (QScrollBar* bar : {DBGrid1->horizontalScrollBar(), DBGrid1->verticalScrollBar()}) {
        auto* pictures = new PanelPictures;
        pictures->setParent(bar);
        bar->setStyle(pictures);
    }
    for (int c = 0; c < ReadingTableModel::ColumnCount; ++c)
        if (const int width = ReadingTableModel::columnWidth(c); width > 0)
            DBGrid1->setColumnWidth(c, width);
    connect(Data1, &ReadingTableModel::rowsPublished, this, &RecordingRegion::showNewestRow);

    multirange =
        place(new QCheckBox(QStringLiteral("Continue Record"), outside), "multirange", 730, 450, 120, 17);
    multirange->setChecked(true);
    multirange->setToolTip(QStringLiteral(
        "If the choice consecution  record data, shift gear then can't clearance data.When the function file "
        "replace, would the data of the clearance record.Thanks!"));
    connect(multirange, &QCheckBox::clicked, this, &RecordingRegion::optionClicked);
    pipeline.setContinueRecord(multirange->isChecked());
    connect(multirange, &QCheckBox::toggled, this, [&pipeline](bool on) { pipeline.setContinueRecord(on); });

    Trecord = new QTimer(this);
    Trecord->setObjectName(QStringLiteral("Trecord"));
    Trecord->setInterval(1000);
    connect(Trecord, &QTimer::timeout, this, &RecordingRegion::TrecordTimer);
    Trecord->start();

    journal_ = std::make_unique<Journal>(journalFolder());
    journalSink_ = std::make_unique<JournalSink>(*journal_);
    recording_.addSink(journalSink_.get());
    journalWatch_ = new QTimer(this);
    journalWatch_->setObjectName(QStringLiteral("journalWatch"));
    journalWatch_->setInterval(1000);
    connect(journalWatch_, &QTimer::timeout, this, &RecordingRegion::watchJournal);
    journalWatch_->start();
}

RecordingRegion::~RecordingRegion() {
    recording_.removeSink(journalSink_.get());
    ui::deleteChildren(this);
}

void RecordingRegion::openEmptyTable(int recordLimit) {
    cds1.clear();
    recorder_.NextRecordNo = 1;
    recorder_.RecordLimit = recordLimit;
}

// --- Recording --------------------------------------------------------------

void RecordingRegion::showNewestRow(int row) {
    DBGrid1->selectRow(row);
    DBGrid1->scrollTo(Data1->index(row, 0));
}

bool RecordingRegion::INDataToTable(const Reading& r) {
    const Recorder::Rules rules{RecordSI->isChecked(), RepeatSet->isChecked(),
                                samplingIntervalSeconds(RecordSITime->text())};
    // The window plots what is recorded, and a repeated reading it does not
    // record; the journal has both.
    const auto outcome = recording_.record(r, rules);
    if (outcome == Recorder::Outcome::Recorded)
        Data1->rowsAppended();
    return outcome != Recorder::Outcome::Stopped;
}

void RecordingRegion::emptyJournal() {
    journal_->empty();
    journalSink_->journalEmptied();
}

void RecordingRegion::TrecordTimer() {
    recorder_.tick(RecordSI->isChecked());
}

void RecordingRegion::RecordSITimeChange() {
    if (const auto fix = repairIntervalText(RecordSITime->text())) {
        // The repaired text passes the handler, so the nesting ends there.
        RecordSITime->setText(fix->text);
        RecordSITime->setSelection(fix->selectionStart, fix->selectionLength);
    }
}

void RecordingRegion::setRecordLimit(int limit, QAction* item) {
    recorder_.RecordLimit = limit;
    for (QAction* a : {limits_.N10001, limits_.N50001, limits_.N100001, limits_.N500001, limits_.N1000001,
                       limits_.limitess})
        a->setChecked(a == item);
}

void RecordingRegion::N10001Click() {
    setRecordLimit(1000, limits_.N10001);
}
void RecordingRegion::N50001Click() {
    setRecordLimit(5000, limits_.N50001);
}
void RecordingRegion::N100001Click() {
    setRecordLimit(kDefaultRecordLimit, limits_.N100001);
}
void RecordingRegion::N500001Click() {
    setRecordLimit(50000, limits_.N500001);
}
void RecordingRegion::N1000001Click() {
    setRecordLimit(100000, limits_.N1000001);
}
void RecordingRegion::limitessClick() {
    setRecordLimit(10000000, limits_.limitess);
}

void RecordingRegion::RecordNewClick() {
    const auto answer =
        QMessageBox::information(window(), QString(), QStringLiteral("Do you want to delete this record?"),
                                 QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    recorder_.clear();
    emptyJournal();
    Data1->tableReset();
    emit dataClosed();
}

bool RecordingRegion::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == RecordSITime) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty() && !digitKeyAccepted(typed.front()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --- Data files and the report ----------------------------------------------

void RecordingRegion::saveasClick() {
    if (!SaveDialog2)
        SaveDialog2 = ui::fileDialog(this, QStringLiteral("SaveDialog2"), QString(), true,
                                     {QStringLiteral("Excel File(*.xls)"), QStringLiteral("XML(*.xml)"),
                                      QStringLiteral("Txt File(*.txt)"), QStringLiteral("CSV File(*.csv)")},
                                     QStringLiteral("xls"));
    // Each save starts with an empty name, never the previous one.
    SaveDialog2->selectFile(QString());
    if (SaveDialog2->exec() != QDialog::Accepted || SaveDialog2->selectedFiles().isEmpty())
        return;
    const QString name = SaveDialog2->selectedFiles().constFirst();
    const bool csv = datafiles::isCsvFileName(name);
    if (datafiles::isXmlFileName(name) || csv) {
        // CSV takes the decimal separator the values are written with now.
        const QString decimalSep = QString::fromStdString(pipeline_.decimalSep());
        const auto result =
            csv ? saveFile(name,
                           [&decimalSep](const ReadingTable& t, const QString& n, datafiles::Progress* p) {
                               return datafiles::saveCsv(t, n, decimalSep, p);
                           })
                : saveFile(name, datafiles::saveXml);
        if (!result.ok) {
            QMessageBox::critical(window(), QString(),
                                  QStringLiteral("Could not save table to specified file: ") + name +
                                      QStringLiteral(" (") + result.error + QLatin1Char(')'));
            return;
        }
        return;
    }
    SaveTableAsText(name);
}

void RecordingRegion::SaveTableAsText(const QString& name) {
    const auto result = saveFile(name, datafiles::saveText);
    if (!result.ok) {
        QMessageBox box(QMessageBox::NoIcon, QString(),
                        QStringLiteral("Could not save table to specified file: ") + name, QMessageBox::Ok,
                        window());
        box.exec();
        return;
    }
    if (cds1.rowCount() > 0)
        showNewestRow(static_cast<int>(cds1.rowCount() - 1));
    QMessageBox::information(window(), QString(),
                             QStringLiteral("save table to specified file: ") + name +
                                 QStringLiteral(" Scuss!"));
}

datafiles::SaveResult RecordingRegion::saveFile(const QString& name, SaveFunction save) {
    datafiles::SaveResult result;
    emit fileWorkStarts();
    FileWork::run(window(), QStringLiteral("Saving %1...").arg(QFileInfo(name).fileName()),
                  [&](datafiles::Progress& progress) { result = save(cds1, name, &progress); });
    // Saved: the journal starts again, before the readings that waited are
    // recorded, so it holds them.
    if (result.ok)
        emptyJournal();
    emit fileWorkEnded();
    return result;
}

void RecordingRegion::SpeedButton2Click() {
    if (!OpenDialog1)
        OpenDialog1 = ui::fileDialog(this, QStringLiteral("OpenDialog1"), QString(), false,
                                     {QStringLiteral("Exel File(*.xls)"), QStringLiteral("XML (*.xml)"),
                                      QStringLiteral("Txt File(*.txt)"), QStringLiteral("CSV File(*.csv)")});
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
        return;
    LoadTableFile(OpenDialog1->selectedFiles().constFirst(), false);
}

void RecordingRegion::LoadTableFile(const QString& name, bool emptyFirst) {
    // The file is read into a table of its own, so the grid keeps showing
    // the rows there are while it loads. Loading leaves the recording
    // counters alone: new readings continue with the next record number
    // after the loaded rows.
    ReadingTable loaded;
    datafiles::LoadResult result;
    emit fileWorkStarts();
    FileWork::run(window(), QStringLiteral("Loading %1...").arg(QFileInfo(name).fileName()),
                  [&](datafiles::Progress& progress) {
                      result = datafiles::loadTableFile(name, loaded, false, &progress);
                  });
    if (emptyFirst)
        cds1.clear();
    // A packet replaces the table; a text table's rows, those before a
    // failing line too, are appended.
    if (result.replaced)
        cds1 = std::move(loaded);
    else
        cds1.appendRows(std::move(loaded));
    // The rows recorded are gone with the table they were in; rows loaded
    // from a text file are in that file already.
    if (result.replaced || emptyFirst)
        emptyJournal();
    if (result.replaced || emptyFirst) {
        Data1->tableReset();
    } else if (result.rowsAdded > 0) {
        Data1->rowsAppended();
        Data1->flush();
    }
    emit fileWorkEnded();
    if (!result.ok) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("Failed to Load File!"), QMessageBox::Ok, window());
        box.exec();
    }
}

void RecordingRegion::recoveryDone() {
    Data1->rowsAppended();
    Data1->flush();
}

void RecordingRegion::watchJournal() {
    const Journal::Health now = journal_->health();
    const bool failing = now == Journal::Health::Failing;
    const bool wasFailing = toldHealth_ == Journal::Health::Failing;
    if (failing == wasFailing)
        return;
    toldHealth_ = now;
    if (failing)
        QMessageBox::warning(
            window(), QStringLiteral("Journal"),
            QStringLiteral("The readings are not protected: they cannot be written to the journal (%1).\n\n"
                           "Recording goes on, but readings not saved to a file would be lost if the "
                           "program ended unexpectedly. Save them to a file, or free the disk or the "
                           "folder %2.")
                .arg(journal_->lastError(), journalFolder()));
    else
        QMessageBox::information(window(), QStringLiteral("Journal"),
                                 QStringLiteral("The journal is written again: the unsaved readings are "
                                                "protected once more (%1).")
                                     .arg(journal_->path()));
}

void RecordingRegion::BtPrintClick() {
    report::preview(window(), cds1);
}

} // namespace voltaro
