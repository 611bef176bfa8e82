#pragma once

#include "core/decode/MeterProfile.h"
#include "core/session/MeterSession.h"
#include "widgets/link/LinkBar.h"
#include "widgets/recording/RecordingRegion.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace voltaro {

struct OrphanJournal;

class ChartRegion;
class ClickPanel;
class LcdPanel;
class LimitsPanel;

// The main window: builds the regions at their stored places and the menus
// that drive them, runs the start-up, owns the meter profile and the ways
// out, and hands each decoded frame to the regions that show it.
class TFCOMM : public QMainWindow, private PipelineHooks {
    Q_OBJECT
public:
    // `hid` is the HID platform the USB cable link lists devices on; the
    // system's when empty (tests give a simulated one).
    explicit TFCOMM(QWidget* parent = nullptr, std::shared_ptr<HidPlatform> hid = {});
    ~TFCOMM() override;

    // The serial driver's data handler and the USB cable's report handler.
    // While a data file is loaded or saved, what they get is held and goes
    // on, in order, once the file is done.
    void DX22KDATA(const std::uint8_t* data, int size);
    void HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);

    // A decoded reading offered to the table and, unless the record limit
    // stopped it, to the chart: what every decoded frame ends with.
    void recordAndPlot(const Reading& r);

    MeterSession& session() { return session_; }
    MeterPipeline& pipeline() { return session_.pipeline(); }
    const MeterProfile& profile() const { return profile_; }
    const ModelSwitches& modelSwitches() const { return switches_; }

    // The regions of the window.
    LinkBar& linkBar() { return *linkBar_; }
    LcdPanel& lcd() { return *Panel1; }
    LimitsPanel& limitsPanel() { return *limits_; }
    ChartRegion& chart() { return *chart_; }
    RecordingRegion& recording() { return *recording_; }

    // Client area of the stored layout.
    static constexpr int kClientWidth = 714;
    static constexpr int kClientHeight = 477;

    // The program is told to end (SIGTERM, SIGHUP, SIGINT): it closes
    // without a question and keeps the journal for the next start.
    void endBySignal();

public slots:
    void BitBtn1Click();
    void BtExit1Click();
    // Offers the rows of journals that windows no longer running left behind.
    void offerRecovery();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Puts the rows and the chart of a journal left behind into this window.
    void recover(const OrphanJournal& orphan);

    // The menu items, built before the regions that change them.
    struct Menus {
        LinkBar::MenuItems link;
        RecordingRegion::LimitItems limits;
        QAction* fill = nullptr;
        QAction* first = nullptr;
        QAction* previous = nullptr;
        QAction* next = nullptr;
        QAction* last = nullptr;
        QAction* chartNew = nullptr;
        QAction* chartSave = nullptr;
        QAction* recordNew = nullptr;
        QAction* recordSave = nullptr;
    };

    void FormCreate();
    void FormResize();
    void applyProfile(const MeterProfile& p);

    void buildWindow();
    // The link's input while a data file is loaded or saved.
    void holdInput();
    void releaseInput();
    void buildMenu();
    void connectMenu();
    void buildOutsideControls();

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

    // What start-up owns; the regions use it, so it outlives them (the
    // destructor takes the widgets down first).
    AssemblyTrace trace_;
    MeterSession session_;
    MeterProfile profile_;
    ModelSwitches switches_;

    Menus menus_;
    QWidget* outside = nullptr;
    LinkBar* linkBar_ = nullptr;
    LcdPanel* Panel1 = nullptr;
    LimitsPanel* limits_ = nullptr;
    ChartRegion* chart_ = nullptr;
    RecordingRegion* recording_ = nullptr;

    // The window's own controls: the ways out, the model switches and the
    // frame diagnostics nobody sees.
    QPushButton* BitBtn1 = nullptr;
    ClickPanel* BtExit = nullptr;
    QCheckBox* IFDX22K = nullptr;
    QCheckBox* IFRQ350 = nullptr;
    QLabel* USBtxt = nullptr;
    std::string frameText_; // the last frame's text, for USBtxt
    bool frameTextPosted_ = false;
    // The system's decimal separator, read again when the locale changes.
    std::string decimalSep_;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;

    bool recoveryOffered_ = false;
    bool endingBySignal_ = false;
};

} // namespace voltaro
