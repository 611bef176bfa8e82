#include "widgets/link/UsbCableLink.h"

#include "core/decode/TraceLog.h"
#include "widgets/ui/Layout.h"

#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace voltaro {

using ui::place;

namespace {

const QString kNotConnected =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");

void tellNotConnected(QWidget* parent) {
    QMessageBox::information(parent, QString(), kNotConnected, QMessageBox::Ok);
}

} // namespace

UsbCableLink::UsbCableLink(QWidget* parent, QWidget* outside, CableLink& cable, TraceLog& history)
    : QObject(parent), window_(parent), cable_(cable), history_(history) {
    setObjectName(QStringLiteral("UsbCableLink"));
    DevListBox = place(new QListWidget(outside), "DevListBox", 730, 230, 360, 60);
    HistoryListBox = place(new QListWidget(outside), "HistoryListBox", 730, 295, 360, 60);
    ReadBtn = place(new QPushButton(QStringLiteral("Read"), outside), "ReadBtn", 730, 360, 75, 25);
    ReadBtn->setCheckable(true);
    SetFeature =
        place(new QPushButton(QStringLiteral("SetFeature"), outside), "SetFeature", 810, 360, 75, 25);
    ClearBtn = place(new QPushButton(QStringLiteral("Clear"), outside), "ClearBtn", 890, 360, 75, 25);
    connect(ReadBtn, &QPushButton::clicked, this, &UsbCableLink::ReadBtnClick);
    connect(SetFeature, &QPushButton::clicked, this, &UsbCableLink::SetFeatureClick);
    connect(ClearBtn, &QPushButton::clicked, this, &UsbCableLink::ClearBtnClick);
    // The list shows the link's devices; choosing a row chooses the device.
    connect(DevListBox, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!showingList_)
            cable_.select(row);
    });

    ConTimer = new QTimer(this);
    ConTimer->setObjectName(QStringLiteral("ConTimer"));
    ConTimer->setInterval(300);
    connect(ConTimer, &QTimer::timeout, this, &UsbCableLink::ConTimerTimer);
    ConTimer->start();

    connect(&cable_, &CableLink::listChanged, this, [this] {
        ReadBtn->setChecked(false);
        showList();
    });
    connect(&cable_, &CableLink::note, this, &UsbCableLink::addHistory);
    connect(&cable_, &CableLink::lost, this, [this] { tellLater(tellNotConnected); });
    showList();
}

UsbCableLink::~UsbCableLink() = default;

void UsbCableLink::showList() {
    showingList_ = true;
    DevListBox->clear();
    DevListBox->addItems(cable_.deviceTexts());
    if (cable_.selected() >= 0)
        DevListBox->setCurrentRow(cable_.selected());
    showingList_ = false;
}

// --- Starting and stopping ----------------------------------------------------

bool UsbCableLink::start() {
    switch (cable_.start()) {
    case CableLink::Start::Started: return true;
    case CableLink::Start::NotListed:
        if (cable_.choice().isDefault()) {
            tellLater(tellNotConnected);
            return false;
        }
        tellLater([where = cable_.choice().where()](QWidget* parent) {
            QMessageBox::information(parent, QStringLiteral("USB cable"),
                                     QStringLiteral("No USB cable%1 is plugged in. Plug it in, or choose "
                                                    "another cable in the ComSetup menu, and re-try.")
                                         .arg(where),
                                     QMessageBox::Ok);
        });
        return false;
    case CableLink::Start::Held:
        tellLater(
            [info = cable_.selectedDevice()->PnPInfo(), who = cable_.holder().describe()](QWidget* parent) {
                const QString cable =
                    info.PortPath.isEmpty() ? info.DevicePath : QStringLiteral("at ") + info.PortPath;
                QMessageBox::warning(parent, QStringLiteral("USB cable"),
                                     QStringLiteral("The USB cable %1 is read by %2. A cable is read by one "
                                                    "program at a time: choose another cable in the ComSetup "
                                                    "menu, or end the other program, and re-try.")
                                         .arg(cable, who),
                                     QMessageBox::Ok);
            });
        return false;
    case CableLink::Start::NoAccess: {
        // Listed and described, but its node is closed to this user: say
        // which node and how to open it, rather than doing nothing.
        QString advice = cable_.permissionAdvice();
        advice[0] = advice[0].toUpper();
        tellLater([advice](QWidget* parent) {
            QMessageBox::warning(parent, QStringLiteral("USB cable"), advice + QLatin1Char('.'),
                                 QMessageBox::Ok);
        });
        return false;
    }
    case CableLink::Start::NotConfigured:
        tellLater([node = cable_.selectedDevice()->PnPInfo().DevicePath](QWidget* parent) {
            QMessageBox::warning(
                parent, QStringLiteral("USB cable"),
                QStringLiteral("The USB cable %1 did not take its configuration, so it cannot "
                               "read the meter. Plug it in again and re-try.")
                    .arg(node),
                QMessageBox::Ok);
        });
        return false;
    }
    return false;
}

void UsbCableLink::stop() {
    const bool waiting = cable_.state() == CableLink::State::Waiting;
    ReadBtn->setChecked(false);
    cable_.stop();
    // The cable is configured again as it is left. Released while waiting for
    // it, there is nothing to configure, and the user was told already that it is gone.
    if (!waiting)
        configureOrTell();
}

bool UsbCableLink::configureOrTell() {
    if (!cable_.selectedDevice()) {
        tellLater(tellNotConnected);
        return false;
    }
    cable_.configureSelected();
    return true;
}

void UsbCableLink::tellLater(std::function<void(QWidget*)> message) {
    pending_ = std::move(message);
}

void UsbCableLink::reportPending(QWidget* parent) {
    if (const auto tell = std::exchange(pending_, {}))
        tell(parent);
}

// --- The hidden buttons -------------------------------------------------------

void UsbCableLink::ReadBtnClick() {
    const THidDevice* chosen = cable_.selectedDevice();
    if (!chosen)
        return;
    if (!chosen->HasReadWriteAccess()) {
        ReadBtn->setChecked(false);
        return;
    }
    // Down, the button would read another meter's reports, whose handler is
    // not part of this program; up, it stops the reading.
    cable_.stopReadingSelected();
}

bool UsbCableLink::SetFeatureClick() {
    return configureOrTell();
}

void UsbCableLink::ClearBtnClick() {
    history_.clear();
    historyShown_ = history_.added();
    HistoryListBox->clear();
}

// --- The cable check ------------------------------------------------------------

void UsbCableLink::ConTimerTimer() {
    showHistory();
    if (cable_.checkTick())
        QMessageBox::information(
            window_->window(), QString(),
            QStringLiteral("USB interface cable is securely connected, please check if the meter is ready."),
            QMessageBox::Ok);
}

// --- The history ----------------------------------------------------------------

void UsbCableLink::addHistory(const QString& line) {
    history_.add(line.toStdString());
    showHistory();
}

void UsbCableLink::showHistory() {
    // The trace keeps the newest lines; the list shows them, appending only
    // what it has not shown yet, so a report line costs a string, not a widget.
    const std::uint64_t added = history_.added();
    if (added == historyShown_)
        return;
    const auto& lines = history_.lines();
    const std::size_t fresh = std::min<std::uint64_t>(added - historyShown_, lines.size());
    historyShown_ = added;
    // In one insertion and one removal: a streaming cable adds about ninety
    // lines a tick, and each row inserted or removed on its own is a round
    // of the model's signals.
    QStringList newest;
    newest.reserve(static_cast<qsizetype>(fresh));
    for (std::size_t i = lines.size() - fresh; i < lines.size(); ++i)
        newest << QString::fromStdString(lines[i]);
    HistoryListBox->addItems(newest);
    if (const int excess = HistoryListBox->count() - static_cast<int>(history_.capacity()); excess > 0)
        HistoryListBox->model()->removeRows(0, excess);
    HistoryListBox->setCurrentRow(HistoryListBox->count() - 1);
}

} // namespace voltaro
