#include "app/TFCOMM.h"

#include "app/ClickPanel.h"
#include "app/JudgeLamp.h"
#include "chart/PlotSurface.h"
#include "chart/TChartControl.h"
#include "decode/LcdPanel.h"
#include "link/serial/TComPortDriver.h"
#include "recording/UnitSymbols.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

namespace voltaro {

namespace {

const QColor kPassColor(0, 128, 0);
const QColor kFailColor(255, 0, 0);

} // namespace

TFCOMM::TFCOMM(QWidget* parent)
    : QMainWindow(parent), pipeline_(std::make_unique<MeterPipeline>(static_cast<PipelineHooks*>(this))) {
    setObjectName(QStringLiteral("FCOMM"));
    // A fixed window: a minimise button, no maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    COMM2 = new TComPortDriver(this);
    COMM2->setObjectName(QStringLiteral("COMM2"));
    COMM2->setComPort(TComPortNumber::pnCOM1);
    COMM2->setComPortSpeed(TComPortBaudRate::br19200);
    COMM2->setComPortDataBits(TComPortDataBits::db7BITS);
    COMM2->setComPortParity(TComPortParity::ptODD);
    connect(COMM2, &TComPortDriver::portFailed, this, &TFCOMM::onSerialPortFailed);
    buildWindow();
    FormCreate();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFCOMM::~TFCOMM() = default;

void TFCOMM::FormCreate() {
    ChartControl = std::make_unique<TChartControl>(*ChartPlot, 100);
    pipeline_->setDecimalSepSource(&readDecimalSep);
    pipeline_->DecimalSep = readDecimalSep();
    pipeline_->evaluator.LastUnitText = "113";
    cds1.clear();
    recorder.NextRecordNo = 1;
    recorder.RecordLimit = 10000;
    ShowSeries(0);
    ShowSeries(BtFill->isChecked() ? 0 : 1);
    syncEvaluationSettings();
    for (QCheckBox* box : {SetMaxB, SetMinB, multirange, BtFill})
        connect(box, &QCheckBox::toggled, this, &TFCOMM::syncEvaluationSettings);

    switches_.IFDX22K = IFDX22K->isChecked();
    switches_.IFRQ350 = IFRQ350->isChecked();
    std::string code = "22";
    if (switches_.IFDX22K) {
        COMM2->setOnReceiveData([this](TComPortDriver*, const void* data, std::int32_t size) {
            DX22KDATA(static_cast<const std::uint8_t*>(data), size);
        });
        code = "22";
    }
    refreshPortHints();
    applyProfile(MeterProfile::forCode(code));
    setChartYRange(profile_.FullScaleCount, -profile_.FullScaleCount);
    setWindowTitle(QString::fromStdString(windowCaption(switches_, is64BitSystem())));
}

void TFCOMM::applyProfile(const MeterProfile& p) {
    profile_ = p;
    pipeline_->FullScaleCount = p.FullScaleCount;
    pipeline_->BarOverloadPos = p.BarOverloadPos;
    pipeline_->settings.alarmHigh = p.AlarmHigh;
    pipeline_->settings.alarmLow = p.AlarmLow;
    // Writing a text that differs from the edit's runs its change handler,
    // which then takes the edit's value as the alarm limit.
    if (Setmax->text() != QString::fromStdString(p.SetmaxText))
        Setmax->setText(QString::fromStdString(p.SetmaxText));
    if (SetMin->text() != QString::fromStdString(p.SetMinText))
        SetMin->setText(QString::fromStdString(p.SetMinText));
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
    BTCon->move(w - 190, 511);
    BtDiscon->move(w - 190, 511);
}

void TFCOMM::DX22KDATA(const std::uint8_t* data, int size) {
    pipeline_->DX22KDATA(data, size);
}

void TFCOMM::HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    pipeline_->HidDataDX22K(reportId, data, size);
}

// --- What a decoded frame does to the window -------------------------------

void TFCOMM::frameEnded(std::string_view frameText) {
    USBtxt->setText(QString::fromLatin1(frameText.data(), static_cast<qsizetype>(frameText.size())));
}

void TFCOMM::limitTextsRelocalised(const EvaluationSettings& s) {
    const QString hi = QString::fromStdString(s.hiText);
    const QString lo = QString::fromStdString(s.loText);
    if (T1HI->text() != hi)
        T1HI->setText(hi);
    if (T1LO->text() != lo)
        T1LO->setText(lo);
}

void TFCOMM::linkActivity() {
    CONok->setVisible(CONok->isHidden());
    CONokN->setVisible(CONok->isHidden());
    LinkIdleCount = 0;
}

void TFCOMM::setChartYRange(double max, double min) {
    ChartControl->SetYMax(max);
    ChartControl->SetYMin(min);
}

void TFCOMM::showDisplay(const DisplayState& d, const ReadingEvaluator& e, const Reading& r) {
    Panel1->showDisplay(d);
    MaxText->setText(QString::fromStdString(e.MaxValueText));
    MinText->setText(QString::fromStdString(e.MinValueText));
    const QString unit =
        unitSymbols(QString::fromLatin1(r.UnitText.data(), static_cast<qsizetype>(r.UnitText.size())));
    MaxTextU->setText(unit);
    MinTextU->setText(unit);
}

void TFCOMM::showJudgement(Verdict v, const Reading& r) {
    T1VALUE->setText(QString::fromStdString(r.ValueText));
    if (v == Verdict::Unchanged)
        return;
    const bool pass = v == Verdict::Pass;
    const QColor c = pass ? kPassColor : kFailColor;
    QPalette vp = T1VALUE->palette();
    vp.setColor(QPalette::Base, c);
    T1VALUE->setPalette(vp);
    Shape1->setBrushColor(c);
    QPalette jp = judge->palette();
    jp.setColor(QPalette::Window, c);
    judge->setPalette(jp);
    judge->setText(pass ? QStringLiteral("Pass") : QStringLiteral("Fail"));
    judge->adjustSize();
    judge->show();
}

void TFCOMM::showBar(int position) {
    Panel1->setBarPosition(position);
}

void TFCOMM::alarmBeep() {
    QApplication::beep();
}

void TFCOMM::showSeries(int index) {
    ShowSeries(index);
}

void TFCOMM::chartNew() {
    BtNewClick();
}

void TFCOMM::recordReading(const Reading& r, std::string_view) {
    INDataToTable(r);
}

// --- Quitting ---------------------------------------------------------------

void TFCOMM::BitBtn1Click() {
    const auto answer = QMessageBox::information(
        this, QString(), QStringLiteral("Are you sure that you want to quit this application?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        QApplication::quit();
}

void TFCOMM::BtExit1Click() {
    QApplication::quit();
}

// --- File dialogs -----------------------------------------------------------

QFileDialog* TFCOMM::fileDialog(const QString& objectName, const QString& title, bool save,
                                const QStringList& filters, const QString& defaultSuffix) {
    auto* dialog = new QFileDialog(this, title);
    dialog->setObjectName(objectName);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilters(filters);
    dialog->setDefaultSuffix(defaultSuffix);
    // Qt's own dialog, so it looks the same on every desktop and tests can answer it.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setSizeGripEnabled(true);
    return dialog;
}

// --- Handlers whose work arrives with the USB cable link ---------------------

void TFCOMM::ConTimerTimer() {}

} // namespace voltaro
