#include "widgets/app/TFCOMM.h"

#include "core/chart/TChartControl.h"
#include "core/recording/JournalRecovery.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/lcd/LcdPanel.h"
#include "widgets/recording/LimitsPanel.h"
#include "widgets/ui/ClickPanel.h"
#include "widgets/ui/Layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <optional>
#include <utility>
#include <vector>

namespace voltaro {

TFCOMM::TFCOMM(QWidget* parent, std::shared_ptr<HidPlatform> hid)
    : QMainWindow(parent), session_(static_cast<PipelineHooks*>(this), std::move(hid)) {
    setObjectName(QStringLiteral("FCOMM"));
    // A fixed window: a minimise button, no maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    buildWindow();
    FormCreate();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFCOMM::~TFCOMM() {
    // What the links still deliver while they are taken down finds no window.
    session_.setReadsLinks(false);
    // The regions go first, while the pipeline they write into still lives.
    delete takeCentralWidget();
}

void TFCOMM::FormCreate() {
    chart_->createControl(kDefaultPageWidth);
    // Asked for at every decode; the locale is asked only when it changes.
    decimalSep_ = readDecimalSep();
    session_.pipeline().setDecimalSepSource([this] { return decimalSep_; });
    session_.pipeline().setDecimalSep(decimalSep_);
    // No reading yet: the first one starts the chart as a change of unit.
    session_.pipeline().continueAfter(std::string(), std::string(kNoUnitYet));
    recording_->openEmptyTable(kDefaultRecordLimit);
    chart_->ShowSeries(0);
    chart_->ShowSeries(chart_->fillChecked() ? 0 : 1);

    switches_.IFDX22K = IFDX22K->isChecked();
    switches_.IFRQ350 = IFRQ350->isChecked();
    const std::string code = "22";
    // The port's bytes and the cable's reports go to the frame assembler of the same meter, or nowhere.
    session_.setReadsLinks(switches_.IFDX22K);
    linkBar_->refreshPortHints();
    applyProfile(MeterProfile::forCode(code));
    setChartYRange(profile_.FullScaleCount, -profile_.FullScaleCount);
    // The title names the link read, so two windows on two meters are told apart.
    const QString caption = QString::fromStdString(windowCaption(switches_, is64BitSystem()));
    setWindowTitle(caption);
    connect(linkBar_, &LinkBar::linkNameChanged, this, [this, caption](const QString& name) {
        setWindowTitle(name.isEmpty() ? caption : caption + QStringLiteral(" - ") + name);
    });
}

void TFCOMM::applyProfile(const MeterProfile& p) {
    profile_ = p;
    session_.pipeline().setScale(p.FullScaleCount, p.BarOverloadPos);
    session_.pipeline().setAlarmHigh(p.AlarmHigh);
    session_.pipeline().setAlarmLow(p.AlarmLow);
    limits_->applyAlarmTexts(QString::fromStdString(p.SetmaxText), QString::fromStdString(p.SetMinText));
    if (p.barMaximum > 0)
        Panel1->setBarMaximum(p.barMaximum);
}

void TFCOMM::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TFCOMM::FormResize() {
    // The bottom row stays below the client area, out of sight.
    const int w = frameGeometry().width();
    BtExit->move(w - 80, 511);
    linkBar_->placeHiddenPanels(w);
}

void TFCOMM::DX22KDATA(const std::uint8_t* data, int size) {
    session_.takeBytes(data, size);
}

void TFCOMM::HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    session_.takeReport(reportId, data, size);
}

void TFCOMM::holdInput() {
    session_.holdInput();
}

void TFCOMM::releaseInput() {
    session_.releaseInput();
}

// --- What a decoded frame does to the window -------------------------------

void TFCOMM::frameEnded(std::string_view frameText) {
    // A poll or a batch of reports ends several frames; the label (never
    // shown) takes the last of them once, after the batch.
    frameText_.assign(frameText);
    if (frameTextPosted_)
        return;
    frameTextPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            frameTextPosted_ = false;
            USBtxt->setText(
                QString::fromLatin1(frameText_.data(), static_cast<qsizetype>(frameText_.size())));
        },
        Qt::QueuedConnection);
}

void TFCOMM::limitTextsRelocalised(const EvaluationSettings& s) {
    limits_->showLimitTexts(s);
}

void TFCOMM::linkActivity() {
    limits_->blinkLink();
}

void TFCOMM::setChartYRange(double max, double min) {
    chart_->setYRange(max, min);
    session_.recording().chartScaled(max, min);
}

void TFCOMM::showDisplay(const DisplayState& d, const ReadingEvaluator& e, const Reading& r) {
    Panel1->showDisplay(d);
    limits_->showMinMax(e, r);
}

void TFCOMM::showJudgement(Verdict v, const Reading& r) {
    limits_->showJudgement(v, r);
}

void TFCOMM::showBar(int position) {
    Panel1->setBarPosition(position);
}

void TFCOMM::alarmBeep() {
    QApplication::beep();
}

void TFCOMM::showSeries(int index) {
    chart_->ShowSeries(index);
}

void TFCOMM::chartNew() {
    chart_->BtNewClick();
}

void TFCOMM::recordReading(const Reading& r, std::string_view) {
    recordAndPlot(r);
}

void TFCOMM::recordAndPlot(const Reading& r) {
    if (recording_->INDataToTable(r))
        chart_->AddPoint(r.ScaledValue);
}

// --- Quitting ---------------------------------------------------------------

void TFCOMM::BitBtn1Click() {
    const auto answer = QMessageBox::information(
        this, QString(), QStringLiteral("Are you sure that you want to quit this application?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // Confirmed: the unsaved rows go with the program.
    recording_->discardJournal();
    QApplication::quit();
}

void TFCOMM::BtExit1Click() {
    recording_->discardJournal();
    QApplication::quit();
}

void TFCOMM::endBySignal() {
    endingBySignal_ = true;
    QApplication::quit();
}

void TFCOMM::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LocaleChange)
        decimalSep_ = readDecimalSep();
    QMainWindow::changeEvent(event);
}

void TFCOMM::closeEvent(QCloseEvent* event) {
    const qsizetype unsaved = recording_->unsavedRows();
    if (endingBySignal_ || unsaved == 0) {
        event->accept();
        return;
    }
    const auto answer = QMessageBox::question(
        this, QString(),
        (unsaved == 1 ? QStringLiteral("1 reading is not saved to a file yet.")
                      : QStringLiteral("%1 readings are not saved to a file yet.").arg(unsaved)) +
            QStringLiteral("\n\nQuit anyway?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    recording_->discardJournal();
    event->accept();
}

// --- Recovering a journal ------------------------------------------------------

void TFCOMM::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Asked once the window is on the screen, never before.
    if (!std::exchange(recoveryOffered_, true))
        QTimer::singleShot(0, this, &TFCOMM::offerRecovery);
}

void TFCOMM::offerRecovery() {
    const QString folder = journalFolder();
    std::vector<OrphanJournal> orphans = findOrphanJournals(folder);
    // A window takes the rows of one journal at most: journals left at the
    // same time are of windows (or voltaro-logs) that read other meters, and
    // their rows are never mixed in one table. The others stay, unlocked,
    // for the next window started.
    qsizetype left = 0;
    bool recovered = false;
    for (OrphanJournal& orphan : orphans) {
        if (recovered) {
            ++left;
            continue;
        }
        const qsizetype n = orphan.rows.rowCount();
        const QString until = QLocale().toString(orphan.lastWritten, QLocale::LongFormat);
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Unsaved readings"),
            QStringLiteral("The program ended before %1 reading(s) were saved to a file. They were "
                           "recorded until %2.\n\nRecover them?")
                .arg(n)
                .arg(until),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            // The rows go to this window's journal in the write that takes the file over.
            const Journal::Hold together(recording_->journal());
            recover(orphan);
            recording_->journal().takeOver(orphan.path, std::move(orphan.lock));
            recovered = true;
            continue;
        }
        bool textOnly = false;
        QString error;
        const QString kept = keepOrphanJournal(orphan, folder, &textOnly, &error);
        if (kept.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Unsaved readings"),
                                 QStringLiteral("The readings could not be kept in a data file (%1). They "
                                                "stay in %2; the program offers them again at its next "
                                                "start.")
                                     .arg(error, orphan.path));
        else if (textOnly)
            QMessageBox::information(
                this, QStringLiteral("Unsaved readings"),
                QStringLiteral("The readings were kept in %1, a text table: they hold characters an XML "
                               "file cannot hold. A text table has no NVal column and shows an empty text "
                               "as NULL.\n\n\"Open old data files\" loads them.")
                    .arg(kept));
        else
            QMessageBox::information(this, QStringLiteral("Unsaved readings"),
                                     QStringLiteral("The readings were kept in %1, with every field.\n\n"
                                                    "\"Open old data files\" loads them.")
                                         .arg(kept));
    }
    orphans.clear(); // their locks go before the user is told to start another window
    if (left > 0)
        QMessageBox::information(this, QStringLiteral("Unsaved readings"),
                                 QStringLiteral("%1 other program(s) ended before their readings were saved. "
                                                "They are not mixed into this window's table: start another "
                                                "window to recover them.")
                                     .arg(left));
}

void TFCOMM::recover(const OrphanJournal& orphan) {
    // The journal is played back through what the window does when it records:
    // the rows, the chart's restarts, its range and its points, in their order.
    using Kind = journalformat::Entry::Kind;
    for (const journalformat::Entry& e : orphan.entries) {
        switch (e.kind) {
        case Kind::Row:
            session_.recording().restoreRow(orphan.rows, e.row, e.plotted);
            if (e.plotted)
                chart_->AddPoint(*e.plotted);
            break;
        case Kind::Point:
            session_.recording().restorePoint(*e.plotted);
            chart_->AddPoint(*e.plotted);
            break;
        case Kind::ChartNew: chart_->BtNewClick(); break;
        case Kind::Scale: setChartYRange(e.maximum, e.minimum); break;
        }
    }
    recording_->recoveryDone();
    // The meter's next reading of the same function goes on with the trend
    // instead of starting the chart again.
    const ReadingTable& t = recording_->table();
    const qsizetype last = t.rowCount() - 1;
    session_.pipeline().continueAfter(t.text(last, ReadingTable::Function).toLatin1().toStdString(),
                                      t.text(last, ReadingTable::Unit).toLatin1().toStdString());
}

} // namespace voltaro
