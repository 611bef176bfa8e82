#pragma once

#include "app/MeterProfile.h"
#include "decode/MeterPipeline.h"
#include "recording/ReadingTable.h"
#include "recording/Recorder.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>

class QAction;
class QCheckBox;
class QFileDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;

namespace voltaro {

class ClickImage;
class PlotSurface;
class ReadingTableModel;
class TChartControl;
class TComPortDriver;
class ClickPanel;
class JudgeLamp;
class LcdPanel;

// The main window: every control of the program, the meter profile, and the
// handlers that tie the controls to the core objects it owns.
class TFCOMM : public QMainWindow, private PipelineHooks {
    Q_OBJECT
public:
    explicit TFCOMM(QWidget* parent = nullptr);
    ~TFCOMM() override;

    // The serial driver's data handler and the USB cable's report handler.
    void DX22KDATA(const std::uint8_t* data, int size);
    void HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);

    MeterPipeline& pipeline() { return *pipeline_; }
    const MeterProfile& profile() const { return profile_; }
    const ModelSwitches& modelSwitches() const { return switches_; }

    // The link watchdog of the USB cable check; every decoded frame clears it.
    int LinkIdleCount = 0;

    // The reading table, its grid model and the recording rules.
    ReadingTable cds1;
    ReadingTableModel* Data1 = nullptr;
    Recorder recorder{cds1};

    // Records the current reading if the recording rules allow it, and plots it.
    void INDataToTable(const Reading& r);

    // Client area of the stored layout.
    static constexpr int kClientWidth = 714;
    static constexpr int kClientHeight = 477;

public slots:
    // Link manager.
    void COM11Click();
    void COM21Click();
    void COM31Click();
    void COM41Click();
    void BTCon1Click();
    void BtDiscon1Click();
    void COMConClick();
    void USBConClick();
    // Quitting.
    void BitBtn1Click();
    void BtExit1Click();
    // Chart view.
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
    // Recording, files and report.
    void RecordNewClick();
    void saveasClick();
    void SpeedButton2Click();
    void BtPrintClick();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    void TrecordTimer();
    void RecordSITimeChange();
    // Limits.
    void T1HIChange();
    void SetmaxExit();
    void SetMinExit();
    // USB cable check.
    void ConTimerTimer();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void applyProfile(const MeterProfile& p);
    void ShowSeries(int index);

    // Serial link: port choice, connect and disconnect steps.
    void selectPort(int number);
    bool serialConnectSteps();
    void serialDisconnectSteps();
    void returnToIdle();
    void refreshPortHints();
    void onSerialPortFailed(const QString& reason);
    void setPortPanelsEnabled(bool enabled);
    QString portLabel() const;

    // Chart view.
    void showPageNumber();

    // Recording and limits.
    void setRecordLimit(int limit, QAction* item);
    void repairEdit(QLineEdit* edit, const QString& text, int start, int length);
    void syncEvaluationSettings();
    void showNewestRow(int row);

    // Data files: writes the text table and reports the outcome; reads either
    // format into the table (appending text rows, replacing with XML).
    void SaveTableAsText(const QString& name);
    void LoadTableFile(const QString& name, bool emptyFirst);
    // Whether a typed key must be discarded by the number edit it was typed into.
    bool filterKey(QObject* watched, QKeyEvent* key);
    static QFont uiHeaderFont();
    // Reads an alarm limit edit into `limit`; says why when the text is no integer.
    void readAlarmLimit(const QLineEdit* edit, float& limit);
    // A file dialog of the window's own (the same on every desktop), made on first use.
    QFileDialog* fileDialog(const QString& objectName, const QString& title, bool save,
                            const QStringList& filters, const QString& defaultSuffix = QString());

    // Layout, one region each.
    void buildWindow();
    void buildMenu();
    void buildTopBar(QWidget* client);
    void buildLimitsPanel(QWidget* client);
    void buildChartBar(QWidget* client);
    void buildChart(QWidget* client);
    void buildRecordBar(QWidget* client);
    void buildGrid(QWidget* client);
    void buildOutsideControls(QWidget* client);
    void buildTimers();

    // Pipeline hooks: what a decoded frame does to the window.
    void limitTextsRelocalised(const EvaluationSettings& s) override;
    void linkActivity() override;
    void setChartYRange(double max, double min) override;
    void showDisplay(const DisplayState& d, const ReadingEvaluator& e, const Reading& r) override;
    void showJudgement(Verdict v, const Reading& r) override;
    void showBar(int position) override;
    void alarmBeep() override;
    void showSeries(int index) override;
    void chartNew() override;
    void recordReading(const Reading& r, std::string_view frameText) override;
    void frameEnded(std::string_view frameText) override;

    std::unique_ptr<MeterPipeline> pipeline_;
    MeterProfile profile_;
    ModelSwitches switches_;

public:
    // The trend chart: its paging controller over the plot.
    PlotSurface* ChartPlot = nullptr;
    std::unique_ptr<TChartControl> ChartControl;
    // The chart's place before it was enlarged (top, left, height, width).
    QRect chartRestoreGeometry;

    // The serial driver: COM1, 19200 baud, 7 data bits, odd parity.
    TComPortDriver* COMM2 = nullptr;

    // Controls, named as the program names them. The window owns them
    // through Qt's parent chain; these are plain pointers for the handlers.
    QFrame* Panel6 = nullptr;
    ClickPanel* BtCOM1 = nullptr;
    ClickPanel* BtCOM2 = nullptr;
    ClickPanel* BtCOM3 = nullptr;
    ClickPanel* BtCOM4 = nullptr;
    QPushButton* COMCon = nullptr;
    QPushButton* USBCon = nullptr;
    QPushButton* BitBtn1 = nullptr;

    LcdPanel* Panel1 = nullptr;

    QFrame* Panel4 = nullptr;
    QLineEdit* T1HI = nullptr;
    QLineEdit* T1VALUE = nullptr;
    QLineEdit* T1LO = nullptr;
    JudgeLamp* Shape1 = nullptr;
    QLabel* judge = nullptr;
    QLabel* CONok = nullptr;
    QLabel* CONokN = nullptr;

    QFrame* Panel5 = nullptr;
    QCheckBox* BtFill = nullptr;
    QLineEdit* Maxrecord = nullptr;
    QToolButton* BtSave = nullptr;
    QToolButton* BtFirst = nullptr;
    QToolButton* BTPrevious = nullptr;
    QToolButton* Bt10 = nullptr;
    QToolButton* BtNext = nullptr;
    QToolButton* BTlast = nullptr;
    ClickImage* TbFd = nullptr;
    ClickImage* TbSx = nullptr;
    QWidget* Chtshow = nullptr;

    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* RecordNew = nullptr;
    QToolButton* OpenDataFiles = nullptr;
    QToolButton* saveas = nullptr;
    QToolButton* BtPrint = nullptr;
    QTableView* DBGrid1 = nullptr;

    // Outside the visible area: state holders and diagnostics.
    QWidget* outside = nullptr;
    ClickPanel* BTCon = nullptr;
    ClickPanel* BtDiscon = nullptr;
    ClickPanel* BtExit = nullptr;
    QToolButton* BtNew = nullptr;
    QCheckBox* IFDX22K = nullptr;
    QCheckBox* IFRQ350 = nullptr;
    QLabel* USBtxt = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QListWidget* DevListBox = nullptr;
    QListWidget* HistoryListBox = nullptr;
    QLineEdit* Setmax = nullptr;
    QLineEdit* SetMin = nullptr;
    QCheckBox* SetMaxB = nullptr;
    QCheckBox* SetMinB = nullptr;
    QCheckBox* multirange = nullptr;
    QFrame* Panel3 = nullptr;
    QLabel* MaxText = nullptr;
    QLabel* MinText = nullptr;
    QLabel* MaxTextU = nullptr;
    QLabel* MinTextU = nullptr;

    QMenu* ComSetup1 = nullptr;
    QAction* COM11 = nullptr;
    QAction* COM21 = nullptr;
    QAction* COM31 = nullptr;
    QAction* COM41 = nullptr;
    QAction* START1 = nullptr;
    QAction* STOP1 = nullptr;
    QAction* FillItem = nullptr;
    QFileDialog* SavePictureDialog1 = nullptr;
    QFileDialog* SaveDialog2 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QAction* N10001 = nullptr;
    QAction* N50001 = nullptr;
    QAction* N100001 = nullptr;
    QAction* N500001 = nullptr;
    QAction* N1000001 = nullptr;
    QAction* limitess = nullptr;

    QTimer* ConTimer = nullptr;
    QTimer* Trecord = nullptr;
    QTimer* Timer2 = nullptr;
};

} // namespace voltaro
