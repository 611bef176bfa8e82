// The trend chart's view on the main window: series style, New, paging, the
// page width, enlarge and restore, and saving the picture.
#include "app/ClickPanel.h"
#include "app/TFCOMM.h"
#include "chart/PlotSurface.h"
#include "chart/TChartControl.h"
#include "decode/LcdPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>

namespace voltaro {

void TFCOMM::ShowSeries(int index) {
    for (int i = 0; i < ChartPlot->seriesCount(); ++i)
        ChartPlot->series(i)->setVisible(i == index);
    ChartPlot->requestReplot();
}

void TFCOMM::btFillClick() {
    FillItem->setChecked(BtFill->isChecked());
    ShowSeries(BtFill->isChecked() ? 0 : 1);
}

void TFCOMM::FillClick() {
    const bool fill = !BtFill->isChecked();
    FillItem->setChecked(fill);
    BtFill->setChecked(fill);
    ShowSeries(fill ? 0 : 1);
}

void TFCOMM::BtNewClick() {
    // The series start afresh with one placeholder point, so the next real
    // point lands at position 1; the page state stays as it was.
    for (int i = 0; i < ChartPlot->seriesCount(); ++i)
        ChartPlot->emptySeries(i);
    ChartPlot->appendToAllSeries(0);
    ShowSeries(BtFill->isChecked() ? 0 : 1);
}

void TFCOMM::showPageNumber() {
    Bt10->setText(QString::number(ChartControl->CurrentPage));
}

void TFCOMM::BtFirstClick() {
    ChartControl->FirstPage();
    showPageNumber();
}

void TFCOMM::BTPreviousClick() {
    ChartControl->PreviousPage();
    showPageNumber();
}

void TFCOMM::BtNextClick() {
    ChartControl->NextPage();
    showPageNumber();
}

void TFCOMM::BTlastClick() {
    ChartControl->LastPage();
    showPageNumber();
}

void TFCOMM::MaxrecordChange() {
    // The new width takes effect two seconds after the last keystroke.
    Timer2->stop();
    Timer2->start();
}

void TFCOMM::Timer2Timer() {
    Timer2->stop();
    bool ok = false;
    const int size = Maxrecord->text().toInt(&ok);
    if (!ok) {
        QMessageBox::critical(this, QString(),
                              QStringLiteral("'%1' is not a valid integer value").arg(Maxrecord->text()));
        return;
    }
    if (!ChartControl->SetWindowSize(size)) {
        // A page cannot hold no record positions: keep the width and show it again.
        const QSignalBlocker quiet(Maxrecord);
        Maxrecord->setText(QString::number(ChartControl->WindowSize));
    }
    showPageNumber();
}

void TFCOMM::TbFdClick() {
    if (Chtshow->y() > 50) {
        Panel1->hide();
        TbFd->hide();
        TbSx->show();
        chartRestoreGeometry = Chtshow->geometry();
        const QRect outer = frameGeometry();
        Chtshow->setGeometry(2, 28, outer.width() - 12, outer.height() - 85);
        Chtshow->raise();
        Panel6->hide();
        Panel5->move(2, 2);
        Panel5->raise();
    } else {
        Panel1->show();
        TbSx->hide();
        TbFd->show();
        Chtshow->setGeometry(chartRestoreGeometry);
        Panel6->show();
        Panel5->move(341, 166);
    }
    ChartPlot->requestReplot();
}

void TFCOMM::BtSaveClick() {
    if (!SavePictureDialog1)
        SavePictureDialog1 = fileDialog(QStringLiteral("SavePictureDialog1"), QStringLiteral("Save Picture"),
                                        true, {QStringLiteral("Bitmaps (*.bmp)")}, QStringLiteral("bmp"));
    if (SavePictureDialog1->exec() != QDialog::Accepted || SavePictureDialog1->selectedFiles().isEmpty())
        return;
    QString name = SavePictureDialog1->selectedFiles().constFirst();
    const QFileInfo info(name);
    if (info.suffix() != QLatin1String("bmp")) {
        const QString base =
            info.suffix().isEmpty() ? name : name.left(name.size() - info.suffix().size() - 1);
        name = base + QStringLiteral(".bmp");
    }
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
        QMessageBox::critical(this, QString(),
                              QStringLiteral("Could not save the graphic as %1: %2").arg(name, error));
        return;
    }
    QMessageBox::information(
        this, QString(),
        QStringLiteral("Graphic has been saved successfully at the following location: %1").arg(name),
        QMessageBox::Ok);
}

} // namespace voltaro
