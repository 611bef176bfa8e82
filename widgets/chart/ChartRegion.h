#pragma once

#include <QWidget>

#include <memory>

class QAction;
class QCheckBox;
class QFileDialog;
class QFrame;
class QLineEdit;
class QTimer;
class QToolButton;

namespace voltaro {

class ClickImage;
class PlotSurface;
class TChartControl;
class MeterPipeline;

// The trend chart with its bar: series style, paging, the page width,
// enlarge and restore, and saving the picture, over the chart's paging
// controller. The bar and the chart are parts of one region that moves as a
// whole when the chart is enlarged.
class ChartRegion : public QWidget {
    Q_OBJECT
public:
    ChartRegion(QWidget* parent, QWidget* outside, QAction* fillItem, MeterPipeline& pipeline);
    ~ChartRegion() override;

    // Start-up: the paging controller with the page width it starts with.
    void createControl(int windowSize);
    TChartControl& control() { return *ChartControl; }
    PlotSurface& plot() { return *ChartPlot; }
    bool fillChecked() const;
    bool enlarged() const { return enlarged_; }

    // What a decoded and recorded reading does to the chart.
    void setYRange(double max, double min);
    void AddPoint(double value);
    // "Close Data": the chart starts over.
    void clearRecords();

    void ShowSeries(int index);

public slots:
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void BtNewClick();
    void BtSaveClick();
    void FillClick();
    void btFillClick();
    void TbFdClick();
    void MaxrecordChange();
    void Timer2Timer();

signals:
    // The series started afresh ("New", a new function, "Close Data").
    void restarted();
    // The chart was enlarged over the window (true) or restored (false).
    void enlargedChanged(bool enlarged);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPageNumber();
    // Puts the bar and the chart at these places in the window's client area.
    void placeParts(const QRect& bar, const QRect& chart);

    MeterPipeline& pipeline_;
    QAction* FillItem;
    std::unique_ptr<TChartControl> ChartControl;
    bool enlarged_ = false;

    QFrame* Panel5;
    QCheckBox* BtFill;
    QLineEdit* Maxrecord;
    QToolButton* BtSave;
    QToolButton* BtFirst;
    QToolButton* BTPrevious;
    QToolButton* Bt10;
    QToolButton* BtNext;
    QToolButton* BTlast;
    ClickImage* TbFd;
    ClickImage* TbSx;
    QWidget* Chtshow;
    PlotSurface* ChartPlot;
    QToolButton* BtNew;
    QTimer* Timer2;
    QFileDialog* SavePictureDialog1 = nullptr;
};

} // namespace voltaro
