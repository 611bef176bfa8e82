#pragma once

#include "core/link/CableLink.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QListWidget;
class QPushButton;
class QTimer;
class QWidget;

namespace voltaro {

class TraceLog;

// The USB side of the link bar, a view and driver of the session's cable
// link: the device list with the cable preselected, the diagnostic history,
// the hidden buttons that read and configure the chosen device, the timer
// of the cable check, and the messages each of them leaves for the user.
class UsbCableLink : public QObject {
    Q_OBJECT
public:
    // `history`: the trace the frame assembler writes its report lines into too.
    UsbCableLink(QWidget* parent, QWidget* outside, CableLink& cable, TraceLog& history);
    ~UsbCableLink() override;

    // Starting and stopping the cable link, as "USB Connect" does. A start
    // that fails leaves nothing running and a message for reportPending().
    bool start();
    void stop();
    // Tells the user what the last start or change left to say.
    void reportPending(QWidget* parent);

    CableLink& cable() { return cable_; }
    THidDevice* activeDevice() const { return cable_.activeDevice(); }

public slots:
    void ReadBtnClick();
    bool SetFeatureClick();
    void ClearBtnClick();
    void ConTimerTimer();

private:
    void showList();
    // Sends the configuration report to the chosen device, or leaves the
    // message that no cable is connected.
    bool configureOrTell();
    void addHistory(const QString& line);
    void showHistory();
    void tellLater(std::function<void(QWidget*)> message);

    QWidget* window_;
    CableLink& cable_;
    TraceLog& history_;
    std::uint64_t historyShown_ = 0;
    std::function<void(QWidget*)> pending_;
    bool showingList_ = false;

    QListWidget* DevListBox;
    QListWidget* HistoryListBox;
    QPushButton* ReadBtn;
    QPushButton* SetFeature;
    QPushButton* ClearBtn;
    QTimer* ConTimer;
};

} // namespace voltaro
