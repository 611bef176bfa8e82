// Recording on the main window: the grid, the recording rules per reading,
// the sampling interval, the record limit, "Close Data", and the limit edits.
#include "app/TFCOMM.h"
#include "chart/PlotSurface.h"
#include "chart/TChartControl.h"
#include "recording/InputRules.h"
#include "recording/ReadingTableModel.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

namespace voltaro {

namespace {

QFont gridFont(int pixels) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    return f;
}

} // namespace

void TFCOMM::buildGrid(QWidget* client) {
    DBGrid1 = new QTableView(client);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(1, 232, 334, 241);
    Data1 = new ReadingTableModel(cds1, this);
    Data1->setObjectName(QStringLiteral("Data1"));
    DBGrid1->setModel(Data1);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setFont(gridFont(12));
    DBGrid1->horizontalHeader()->setFont(uiHeaderFont());
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->horizontalHeader()->setHighlightSections(false);
    // Every row the same height, so a long recording scrolls without measuring rows.
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->setWordWrap(false);

    for (int c = 0; c < ReadingTableModel::ColumnCount; ++c)
        if (const int width = ReadingTableModel::columnWidth(c); width > 0)
            DBGrid1->setColumnWidth(c, width);
    connect(Data1, &ReadingTableModel::rowsPublished, this, &TFCOMM::showNewestRow);
}

QFont TFCOMM::uiHeaderFont() {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(11);
    f.setBold(true);
    return f;
}

void TFCOMM::showNewestRow(int row) {
    DBGrid1->selectRow(row);
    DBGrid1->scrollTo(Data1->index(row, 0));
}

void TFCOMM::INDataToTable(const Reading& r) {
    const auto outcome =
        recorder.INDataToTable(r, RecordSI->isChecked(), RepeatSet->isChecked(), RecordSITime->text(),
                               timeOfDayText(QTime::currentTime(), localeTimeSeparator()));
    if (outcome == Recorder::Outcome::Stopped)
        return;
    if (outcome == Recorder::Outcome::Recorded)
        Data1->rowsAppended();
    ChartControl->AddPoint(r.ScaledValue);
    showPageNumber();
}

void TFCOMM::TrecordTimer() {
    recorder.tick(RecordSI->isChecked());
}

void TFCOMM::repairEdit(QLineEdit* edit, const QString& text, int start, int length) {
    // Setting the text runs the change handler again; the repaired text
    // passes it, so the nesting ends there.
    edit->setText(text);
    edit->setSelection(start, length);
}

void TFCOMM::RecordSITimeChange() {
    if (const auto fix = repairIntervalText(RecordSITime->text()))
        repairEdit(RecordSITime, fix->text, fix->selectionStart, fix->selectionLength);
}

void TFCOMM::setRecordLimit(int limit, QAction* item) {
    recorder.RecordLimit = limit;
    for (QAction* a : {N10001, N50001, N100001, N500001, N1000001, limitess})
        a->setChecked(a == item);
}

void TFCOMM::N10001Click() {
    setRecordLimit(1000, N10001);
}
void TFCOMM::N50001Click() {
    setRecordLimit(5000, N50001);
}
void TFCOMM::N100001Click() {
    setRecordLimit(10000, N100001);
}
void TFCOMM::N500001Click() {
    setRecordLimit(50000, N500001);
}
void TFCOMM::N1000001Click() {
    setRecordLimit(100000, N1000001);
}
void TFCOMM::limitessClick() {
    setRecordLimit(10000000, limitess);
}

void TFCOMM::RecordNewClick() {
    const auto answer =
        QMessageBox::information(this, QString(), QStringLiteral("Do you want to delete this record?"),
                                 QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    ChartControl->ClearChart();
    showPageNumber();
    recorder.clear();
    Data1->tableReset();
    BtNew->click();
}

void TFCOMM::T1HIChange() {
    auto* edit = qobject_cast<QLineEdit*>(sender());
    if (edit) {
        const QString sep = QString::fromStdString(pipeline_->DecimalSep);
        if (const auto fix = repairLimitText(edit->text(), sep)) {
            repairEdit(edit, fix->text, fix->selectionStart, fix->selectionLength);
            return; // the nested change has taken the repaired text
        }
    }
    pipeline_->settings.hiText = T1HI->text().toStdString();
    pipeline_->settings.loText = T1LO->text().toStdString();
}

void TFCOMM::readAlarmLimit(const QLineEdit* edit, float& limit) {
    QString error;
    if (const auto v = alarmLimitValue(edit->text(), error))
        limit = *v;
    else
        QMessageBox::critical(this, QString(), error);
}

void TFCOMM::SetmaxExit() {
    readAlarmLimit(Setmax, pipeline_->settings.alarmHigh);
}

void TFCOMM::SetMinExit() {
    readAlarmLimit(SetMin, pipeline_->settings.alarmLow);
}

void TFCOMM::syncEvaluationSettings() {
    auto& s = pipeline_->settings;
    s.setMaxB = SetMaxB->isChecked();
    s.setMinB = SetMinB->isChecked();
    s.multirange = multirange->isChecked();
    s.btFill = BtFill->isChecked();
}

bool TFCOMM::filterKey(QObject* watched, QKeyEvent* key) {
    const QString typed = key->text();
    if (typed.isEmpty())
        return false;
    const QChar c = typed.front();
    if (watched == T1HI || watched == T1LO)
        return !limitKeyAccepted(c, QString::fromStdString(pipeline_->DecimalSep));
    if (watched == Setmax || watched == SetMin)
        return !alarmKeyAccepted(c);
    if (watched == RecordSITime || watched == Maxrecord)
        return !digitKeyAccepted(c);
    return false;
}

} // namespace voltaro
