#include "widgets/chart/ChartRegion.h"

#include "core/chart/ChartGeometry.h"
#include "core/chart/ChartPictureName.h"
#include "core/chart/TChartControl.h"
#include "core/decode/IntegerText.h"
#include "core/decode/MeterPipeline.h"
#include "core/recording/InputRules.h"
#include "widgets/chart/PlotSurface.h"
#include "widgets/ui/ClickPanel.h"
#include "widgets/ui/Layout.h"
#include "widgets/ui/Pictures.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>

#include <qcustomplot.h>

namespace voltaro {

using ui::place;
using ui::speedButton;
using ui::uiFont;

namespace {

// The stored places of the bar and the chart in the client area.
const QRect kBarPlace(kChartBarRestoredPos, QSize(372, 38));
const QRect kChartPlace(336, 204, 376, 269);

QCustomPlot* makePlot(QWidget* parent) {
    auto* plot = new QCustomPlot(parent);
    plot->setObjectName(QStringLiteral("Chtshow"));
    plot->setNoAntialiasingOnDrag(true);
    QLinearGradient silverToWhite(0, 0, 0, 1);
    silverToWhite.setCoordinateMode(QGradient::ObjectMode);
    silverToWhite.setColorAt(0, QColor(192, 192, 192));
    silverToWhite.setColorAt(1, Qt::white);
    plot->setBackground(QBrush(silverToWhite));
    plot->axisRect()->setBackground(Qt::white);
    plot->xAxis->setLabel(QStringLiteral("Record Number"));
    plot->yAxis->setLabel(QStringLiteral("Value"));
    const QFont axisFont = uiFont(11, false);
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setLabelFont(uiFont(11));
        axis->setTickLabelFont(axisFont);
        axis->setTickLength(0, 3);
        axis->setSubTickLength(0, 3);
    }
    plot->yAxis->setBasePen(QPen(QColor(0, 64, 128), 1, Qt::DashLine));
    plot->xAxis->setRange(0, 100);
    plot->yAxis->setRange(-22000, 22000);
    plot->axisRect()->setMinimumMargins(QMargins(1, 0, 1, 1));
    // The left wall: a yellow strip along the value axis.
    auto* wall = new QCPItemRect(plot);
    wall->setClipToAxisRect(false);
    wall->topLeft->setType(QCPItemPosition::ptAxisRectRatio);
    wall->topLeft->setCoords(0, 0);
    wall->bottomRight->setTypeX(QCPItemPosition::ptAbsolute);
    wall->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    wall->bottomRight->setParentAnchorX(wall->topLeft);
    wall->bottomRight->setCoords(8, 1);
    wall->setPen(Qt::NoPen);
    wall->setBrush(QColor(255, 255, 0));
    wall->setLayer(QStringLiteral("background"));
    return plot;
}

} // namespace

ChartRegion::ChartRegion(QWidget* parent, QWidget* outside, QAction* fillItem, MeterPipeline& pipeline)
    : QWidget(parent), pipeline_(pipeline), FillItem(fillItem) {
    setObjectName(QStringLiteral("ChartRegion"));
    auto* plot = makePlot(this);
    Chtshow = plot;
    ChartPlot = new PlotSurface(plot);

    Panel5 = new QFrame(this);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    Panel5->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel5->setAutoFillBackground(true);
    BtFill = place(new QCheckBox(QStringLiteral("Fill"), Panel5), "BtFill", 24, 4, 44, 17);
    BtFill->setToolTip(QStringLiteral("Graphic Fill"));
    BtFill->setChecked(true);
    connect(BtFill, &QCheckBox::clicked, this, &ChartRegion::btFillClick);
    pipeline_.setFill(BtFill->isChecked());
    connect(BtFill, &QCheckBox::toggled, this, [this](bool on) { pipeline_.setFill(on); });
    Maxrecord = place(new QLineEdit(QString::number(kDefaultPageWidth), Panel5), "Maxrecord", 91, 2, 49, 21);
    Maxrecord->installEventFilter(this);
    connect(Maxrecord, &QLineEdit::textChanged, this, &ChartRegion::MaxrecordChange);

    BtSave = speedButton(Panel5, "BtSave", QStringLiteral("Save"), pictures::saveChart(), 149, 3, 28, 21);
    BtFirst = speedButton(Panel5, "BtFirst", QStringLiteral("First"), pictures::first(), 179, 3, 25, 21);
    BTPrevious =
        speedButton(Panel5, "BTPrevious", QStringLiteral("Previous"), pictures::previous(), 203, 3, 25, 21);
    Bt10 = speedButton(Panel5, "Bt10", QStringLiteral("Page No."), QIcon(), 227, 3, 25, 21);
    Bt10->setText(QStringLiteral("1"));
    QPalette blue = Bt10->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    Bt10->setPalette(blue);
    BtNext = speedButton(Panel5, "BtNext", QStringLiteral("Next"), pictures::next(), 251, 3, 25, 21);
    BTlast = speedButton(Panel5, "BTlast", QStringLiteral("last"), pictures::last(), 275, 3, 25, 21);
    connect(BtSave, &QToolButton::clicked, this, &ChartRegion::BtSaveClick);
    connect(BtFirst, &QToolButton::clicked, this, &ChartRegion::BtFirstClick);
    connect(BTPrevious, &QToolButton::clicked, this, &ChartRegion::BTPreviousClick);
    connect(BtNext, &QToolButton::clicked, this, &ChartRegion::BtNextClick);
    connect(BTlast, &QToolButton::clicked, this, &ChartRegion::BTlastClick);

    TbFd = place(new ClickImage(Panel5), "TbFd", 312, 3, 25, 25);
    TbFd->setPixmap(pictures::enlarge());
    TbFd->setToolTip(QStringLiteral("Graphic Enlarge"));
    TbSx = place(new ClickImage(Panel5), "TbSx", 334, 6, 25, 25);
    TbSx->setPixmap(pictures::restore());
    TbSx->setToolTip(QStringLiteral("Graphic Restore"));
    TbSx->hide();
    connect(TbFd, &ClickImage::clicked, this, &ChartRegion::TbFdClick);
    connect(TbSx, &ClickImage::clicked, this, &ChartRegion::TbFdClick);

    BtNew = speedButton(outside, "BtNew", QStringLiteral("New"), QIcon(), 730, 180, 23, 22);
    connect(BtNew, &QToolButton::clicked, this, &ChartRegion::BtNewClick);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(2000);
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, &ChartRegion::Timer2Timer);

    placeParts(kBarPlace, kChartPlace);
}

ChartRegion::~ChartRegion() {
    ui::deleteChildren(this);
}

void ChartRegion::placeParts(const QRect& bar, const QRect& chart) {
    const QRect whole = bar.united(chart);
    setGeometry(whole);
    Panel5->setGeometry(bar.translated(-whole.topLeft()));
    Chtshow->setGeometry(chart.translated(-whole.topLeft()));
}

void ChartRegion::createControl(int windowSize) {
    ChartControl = std::make_unique<TChartControl>(*ChartPlot, windowSize);
}

bool ChartRegion::fillChecked() const {
    return BtFill->isChecked();
}

void ChartRegion::setYRange(double max, double min) {
    ChartControl->SetYMax(max);
    ChartControl->SetYMin(min);
}

void ChartRegion::AddPoint(double value) {
    ChartControl->AddPoint(value);
    showPageNumber();
}

void ChartRegion::clearRecords() {
    ChartControl->ClearChart();
    showPageNumber();
    BtNew->click();
}

void ChartRegion::ShowSeries(int index) {
    for (int i = 0; i < ChartPlot->seriesCount(); ++i)
        ChartPlot->series(i)->setVisible(i == index);
    ChartPlot->requestReplot();
}

void ChartRegion::btFillClick() {
    FillItem->setChecked(BtFill->isChecked());
    ShowSeries(BtFill->isChecked() ? 0 : 1);
}

void ChartRegion::FillClick() {
    const bool fill = !BtFill->isChecked();
    FillItem->setChecked(fill);
    BtFill->setChecked(fill);
    ShowSeries(fill ? 0 : 1);
}

void ChartRegion::BtNewClick() {
    // The series start afresh with one placeholder point, so the next real
    // point lands at position 1; the page state stays as it was.
    for (int i = 0; i < ChartPlot->seriesCount(); ++i)
        ChartPlot->emptySeries(i);
    ChartPlot->appendToAllSeries(0);
    ShowSeries(BtFill->isChecked() ? 0 : 1);
    emit restarted();
}

void ChartRegion::showPageNumber() {
    Bt10->setText(QString::number(ChartControl->CurrentPage));
}

void ChartRegion::BtFirstClick() {
    ChartControl->FirstPage();
    showPageNumber();
}

void ChartRegion::BTPreviousClick() {
    ChartControl->PreviousPage();
    showPageNumber();
}

void ChartRegion::BtNextClick() {
    ChartControl->NextPage();
    showPageNumber();
}

void ChartRegion::BTlastClick() {
    ChartControl->LastPage();
    showPageNumber();
}

void ChartRegion::MaxrecordChange() {
    // The new width takes effect two seconds after the last keystroke.
    Timer2->stop();
    Timer2->start();
}

void ChartRegion::Timer2Timer() {
    Timer2->stop();
    const auto size = parseInteger(Maxrecord->text());
    if (!size) {
        QMessageBox::critical(window(), QString(), notAnIntegerMessage(Maxrecord->text()));
        return;
    }
    if (!ChartControl->SetWindowSize(*size)) {
        // A page cannot hold no record positions: keep the width and show it again.
        const QSignalBlocker quiet(Maxrecord);
        Maxrecord->setText(QString::number(ChartControl->WindowSize));
    }
    showPageNumber();
}

void ChartRegion::TbFdClick() {
    enlarged_ = !enlarged_;
    if (enlarged_) {
        const QRect outer = window()->frameGeometry();
        placeParts(QRect(QPoint(2, 2), kBarPlace.size()),
                   QRect(2, 28, outer.width() - 12, outer.height() - 85));
        TbFd->hide();
        TbSx->show();
        // Over everything else of the window, the bar over the chart.
        raise();
        Panel5->raise();
    } else {
        placeParts(kBarPlace, kChartPlace);
        TbSx->hide();
        TbFd->show();
    }
    emit enlargedChanged(enlarged_);
    ChartPlot->requestReplot();
}

void ChartRegion::BtSaveClick() {
    if (!SavePictureDialog1)
        SavePictureDialog1 =
            ui::fileDialog(this, QStringLiteral("SavePictureDialog1"), QStringLiteral("Save Picture"), true,
                           {QStringLiteral("Bitmaps (*.bmp)")}, QStringLiteral("bmp"));
    if (SavePictureDialog1->exec() != QDialog::Accepted || SavePictureDialog1->selectedFiles().isEmpty())
        return;
    const QString name = chartPictureFileName(SavePictureDialog1->selectedFiles().constFirst());
    // Draw the chart as it is on screen, at its size, and write it through a
    // temporary file so a failed write leaves any earlier picture intact.
    auto* plot = ChartPlot->plot();
    plot->replot(QCustomPlot::rpImmediateRefresh);
    const QImage image = plot->grab().toImage();
    QSaveFile file(name);
    QString error;
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
    } else {
        QImageWriter writer(&file, "BMP");
        if (!writer.write(image))
            error = writer.errorString();
        else if (!file.commit())
            error = file.errorString();
    }
    if (!error.isEmpty()) {
        QMessageBox::critical(window(), QString(),
                              QStringLiteral("Could not save the graphic as %1: %2").arg(name, error));
        return;
    }
    QMessageBox::information(
        window(), QString(),
        QStringLiteral("Graphic has been saved successfully at the following location: %1").arg(name),
        QMessageBox::Ok);
}

bool ChartRegion::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == Maxrecord) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty() && !digitKeyAccepted(typed.front()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace voltaro
