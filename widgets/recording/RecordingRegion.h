#pragma once

#include "core/recording/DataFiles.h"
#include "core/recording/Journal.h"
#include "core/recording/ReadingTable.h"
#include "core/recording/Recorder.h"
#include "core/recording/Recording.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QFileDialog;
class QLineEdit;
class QTableView;
class QTimer;
class QToolButton;

namespace voltaro {

class ReadingTableModel;
class MeterPipeline;
class MeterSession;

// The recording region: the record bar, the grid over the session's reading
// table, the controls of its recording rules with their sampling timer and
// record limit, the journal, the data files and the printed report.
class RecordingRegion : public QWidget {
    Q_OBJECT
public:
    // The record-limit items of the Record menu; the window builds them.
    struct LimitItems {
        QAction* N10001 = nullptr;
        QAction* N50001 = nullptr;
        QAction* N100001 = nullptr;
        QAction* N500001 = nullptr;
        QAction* N1000001 = nullptr;
        QAction* limitess = nullptr;
    };

    RecordingRegion(QWidget* parent, QWidget* outside, const LimitItems& limits, MeterSession& session);
    ~RecordingRegion() override;

    ReadingTable& table() { return cds1; }
    ReadingTableModel& model() { return *Data1; }
    Recorder& recorder() { return recorder_; }

    // Start-up: an empty table, numbering from 1, the stored record limit.
    void openEmptyTable(int recordLimit);

    // Records `r` if the recording rules allow it; true when the reading
    // also goes to the chart (it does unless the record limit stopped it).
    bool INDataToTable(const Reading& r);

    // Writes the text table and tells the outcome; reads any format into
    // the table (appending text and CSV rows, replacing it with an XML
    // packet). Both run on a thread of their own and return when done
    // (FileWork), the table unchanged meanwhile.
    void SaveTableAsText(const QString& name);
    void LoadTableFile(const QString& name, bool emptyFirst);

    // The rows recorded that no file holds yet, kept in the journal.
    qsizetype unsavedRows() const { return journal_->unsavedRows(); }
    Journal& journal() { return *journal_; }
    // The user chose to quit: the unsaved rows are given up.
    void discardJournal() { journal_->discard(); }
    // The recovered rows are in: the grid shows them.
    void recoveryDone();

public slots:
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

signals:
    // "Close Data" emptied the table: the chart starts over.
    void dataClosed();
    // "Repeat" or "Continue Record" was clicked; the stored layout runs the
    // chart's fill handler for both.
    void optionClicked();
    // A data file is about to be loaded or saved: nothing may change the
    // table until fileWorkEnded(), sent once the file and the journal are
    // done and before any message about the outcome.
    void fileWorkStarts();
    void fileWorkEnded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setRecordLimit(int limit, QAction* item);
    using SaveFunction =
        std::function<datafiles::SaveResult(const ReadingTable&, const QString&, datafiles::Progress*)>;
    // Saves the table with `save` (FileWork); a good save empties the journal.
    datafiles::SaveResult saveFile(const QString& name, SaveFunction save);
    void showNewestRow(int row);
    // Saved, or gone with the table: the journal starts again.
    void emptyJournal();
    // Tells the user when the journal stops being written, and when it is again.
    void watchJournal();

    Recording& recording_;
    const MeterPipeline& pipeline_;
    ReadingTable& cds1;
    Recorder& recorder_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<JournalSink> journalSink_;
    Journal::Health toldHealth_ = Journal::Health::Unused;
    QTimer* journalWatch_;
    LimitItems limits_;

    QCheckBox* RepeatSet;
    QCheckBox* RecordSI;
    QLineEdit* RecordSITime;
    QToolButton* RecordNew;
    QToolButton* OpenDataFiles;
    QToolButton* saveas;
    QToolButton* BtPrint;
    QTableView* DBGrid1;
    ReadingTableModel* Data1;
    QCheckBox* multirange;
    QTimer* Trecord;
    QFileDialog* SaveDialog2 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
};

} // namespace voltaro
