#include "widgets/recording/LimitsPanel.h"

#include "core/decode/MeterPipeline.h"
#include "core/recording/InputRules.h"
#include "core/recording/UnitSymbols.h"
#include "widgets/recording/JudgeLamp.h"
#include "widgets/recording/PanelPictures.h"
#include "widgets/ui/Layout.h"
#include "widgets/ui/Pictures.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>

namespace voltaro {

using ui::place;
using ui::uiFont;

namespace {

const QColor kPassColor(0, 128, 0);
const QColor kFailColor(255, 0, 0);
const QEvent::Type kShowLatestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

QLineEdit* limitEdit(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* e = place(new QLineEdit(text, parent), name, x, y, 81, 22);
    e->setFont(uiFont(11));
    e->setToolTip(QStringLiteral("Can't for empty"));
    return e;
}

void repairEdit(QLineEdit* edit, const TextRepair& fix) {
    // Setting the text runs the change handler again; the repaired text
    // passes it, so the nesting ends there.
    edit->setText(fix.text);
    edit->setSelection(fix.selectionStart, fix.selectionLength);
}

} // namespace

LimitsPanel::LimitsPanel(QWidget* parent, QWidget* outside, MeterPipeline& pipeline)
    : QFrame(parent), pipeline_(pipeline) {
    place(this, "Panel4", 340, 30, 371, 132);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    const QFont small = uiFont(11);
    ui::label(this, "T1_HI", QStringLiteral("Set Hi Limit:"), 16, 20, small);
    T1HI = limitEdit(this, "T1HI", QStringLiteral("22000"), 112, 16);
    ui::label(this, "T1_Value", QStringLiteral("Measure Value:"), 16, 64, small);
    T1VALUE = place(new QLineEdit(QStringLiteral("0"), this), "T1VALUE", 112, 54, 129, 32);
    T1VALUE->setFont(uiFont(21));
    T1VALUE->setReadOnly(true);
    T1VALUE->setFocusPolicy(Qt::NoFocus);
    // Its text changes with every reading, its panel never does.
    auto* panelPictures = new PanelPictures;
    panelPictures->setParent(T1VALUE);
    T1VALUE->setStyle(panelPictures);
    QPalette tip = T1VALUE->palette();
    tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
    T1VALUE->setPalette(tip);
    ui::label(this, "T1_LO", QStringLiteral("Set Low Limit:"), 16, 100, small);
    T1LO = limitEdit(this, "T1LO", QStringLiteral("-22000"), 112, 100);
    connect(T1HI, &QLineEdit::textChanged, this, &LimitsPanel::T1HIChange);
    connect(T1LO, &QLineEdit::textChanged, this, &LimitsPanel::T1HIChange);
    T1HI->installEventFilter(this);
    T1LO->installEventFilter(this);

    Shape1 = place(new JudgeLamp(this), "Shape1", 245, 8, 113, 121);
    judge = new QLabel(this);
    judge->setObjectName(QStringLiteral("judge"));
    judge->setFont(uiFont(32));
    judge->setAutoFillBackground(true);
    judge->setAlignment(Qt::AlignCenter);
    judge->setGeometry(275, 52, 0, 0);
    QPalette jp = judge->palette();
    jp.setColor(QPalette::Window, jp.color(QPalette::ToolTipBase));
    judge->setPalette(jp);
    judge->hide(); // empty until the first judgement

    CONok = place(new QLabel(this), "CONok", 342, 5, 25, 24);
    CONok->setPixmap(pictures::linkOn());
    CONok->hide();
    CONokN = place(new QLabel(this), "CONokN", 342, 5, 25, 24);
    CONokN->setPixmap(pictures::linkOff());

    SetMaxB = place(new QCheckBox(QStringLiteral("SetMax:"), outside), "SetMaxB", 730, 400, 70, 17);
    Setmax = place(new QLineEdit(QStringLiteral("22000"), outside), "Setmax", 800, 398, 60, 21);
    SetMinB = place(new QCheckBox(QStringLiteral("SetMin: "), outside), "SetMinB", 730, 424, 70, 17);
    SetMin = place(new QLineEdit(QStringLiteral("-22000"), outside), "SetMin", 800, 422, 60, 21);
    connect(Setmax, &QLineEdit::textChanged, this, &LimitsPanel::SetmaxExit);
    connect(SetMaxB, &QCheckBox::clicked, this, &LimitsPanel::SetmaxExit);
    connect(SetMin, &QLineEdit::textChanged, this, &LimitsPanel::SetMinExit);
    connect(SetMinB, &QCheckBox::clicked, this, &LimitsPanel::SetMinExit);
    Setmax->installEventFilter(this);
    SetMin->installEventFilter(this);
    const auto sides = [this] { pipeline_.setAlarmSides(SetMaxB->isChecked(), SetMinB->isChecked()); };
    connect(SetMaxB, &QCheckBox::toggled, this, sides);
    connect(SetMinB, &QCheckBox::toggled, this, sides);
    sides();

    auto* Panel3 = place(new QFrame(outside), "Panel3", 870, 400, 220, 60);
    Panel3->hide();
    MaxText = place(new QLabel(Panel3), "MaxText", 4, 4, 120, 24);
    MinText = place(new QLabel(Panel3), "MinText", 4, 32, 120, 24);
    MaxTextU = place(new QLabel(Panel3), "MaxTextU", 130, 4, 80, 24);
    MinTextU = place(new QLabel(Panel3), "MinTextU", 130, 32, 80, 24);
}

LimitsPanel::~LimitsPanel() {
    ui::deleteChildren(this);
}

void LimitsPanel::applyAlarmTexts(const QString& maxText, const QString& minText) {
    // Writing a text that differs from the edit's runs its change handler,
    // which then takes the edit's value as the alarm limit.
    if (Setmax->text() != maxText)
        Setmax->setText(maxText);
    if (SetMin->text() != minText)
        SetMin->setText(minText);
}

void LimitsPanel::showLimitTexts(const EvaluationSettings& s) {
    const QString hi = QString::fromStdString(s.hiText);
    const QString lo = QString::fromStdString(s.loText);
    if (T1HI->text() != hi)
        T1HI->setText(hi);
    if (T1LO->text() != lo)
        T1LO->setText(lo);
}

void LimitsPanel::showMinMax(const ReadingEvaluator& e, const Reading& r) {
    if (e.MaxValueText != shownMax_) {
        shownMax_ = e.MaxValueText;
        MaxText->setText(QString::fromStdString(shownMax_));
    }
    if (e.MinValueText != shownMin_) {
        shownMin_ = e.MinValueText;
        MinText->setText(QString::fromStdString(shownMin_));
    }
    if (r.UnitText != shownUnit_) {
        shownUnit_ = r.UnitText;
        const QString unit =
            unitSymbols(QString::fromLatin1(shownUnit_.data(), static_cast<qsizetype>(shownUnit_.size())));
        MaxTextU->setText(unit);
        MinTextU->setText(unit);
    }
}

void LimitsPanel::showJudgement(Verdict v, const Reading& r) {
    latestValue_ = QString::fromStdString(r.ValueText);
    showLatestLater();
    if (v == Verdict::Unchanged)
        return;
    const bool pass = v == Verdict::Pass;
    const QColor c = pass ? kPassColor : kFailColor;
    const QString caption = pass ? QStringLiteral("Pass") : QStringLiteral("Fail");
    // Readings mostly keep their judgement; setting the same palettes again
    // would still repaint the panel for each one.
    if (!judge->isHidden() && judge->text() == caption && Shape1->brushColor() == c &&
        T1VALUE->palette().color(QPalette::Base) == c)
        return;
    QPalette vp = T1VALUE->palette();
    vp.setColor(QPalette::Base, c);
    T1VALUE->setPalette(vp);
    Shape1->setBrushColor(c);
    QPalette jp = judge->palette();
    jp.setColor(QPalette::Window, c);
    judge->setPalette(jp);
    judge->setText(caption);
    judge->adjustSize();
    judge->show();
}

void LimitsPanel::blinkLink() {
    linkSwapPending_ = !linkSwapPending_;
    showLatestLater();
}

void LimitsPanel::showLatestLater() {
    if (showLatestPosted_)
        return;
    showLatestPosted_ = true;
    QCoreApplication::postEvent(this, new QEvent(kShowLatestEvent));
}

void LimitsPanel::paintEvent(QPaintEvent* event) {
    // The value box, the lamp and the link's lamp are repainted on every pass;
    // the frame lies outside the contents, so their repaints leave it alone.
    if (event->region().intersects(QRegion(frameRect()).subtracted(QRegion(contentsRect()))))
        QFrame::paintEvent(event);
}

void LimitsPanel::customEvent(QEvent* event) {
    if (event->type() == kShowLatestEvent)
        showLatest();
    else
        QFrame::customEvent(event);
}

void LimitsPanel::showLatest() {
    showLatestPosted_ = false;
    // A line edit lays its text out anew on every setText; a steady reading
    // keeps its text.
    if (latestValue_ && T1VALUE->text() != *latestValue_)
        T1VALUE->setText(*latestValue_);
    latestValue_.reset();
    if (linkSwapPending_) {
        CONok->setVisible(CONok->isHidden());
        CONokN->setVisible(CONok->isHidden());
        linkSwapPending_ = false;
        // A widget shown asks for its repaint with an event of its own, which
        // is queued behind this pass's paint and would make a second paint of
        // the picture and everything under it. Taken now, it joins this one.
        QCoreApplication::sendPostedEvents(CONok->isHidden() ? CONokN : CONok, QEvent::UpdateLater);
    }
}

void LimitsPanel::T1HIChange() {
    if (auto* edit = qobject_cast<QLineEdit*>(sender())) {
        const QString sep = QString::fromStdString(pipeline_.decimalSep());
        if (const auto fix = repairLimitText(edit->text(), sep)) {
            repairEdit(edit, *fix);
            return; // the nested change has taken the repaired text
        }
    }
    pipeline_.setLimitTexts(T1HI->text().toStdString(), T1LO->text().toStdString());
}

std::optional<float> LimitsPanel::readAlarmLimit(const QLineEdit* edit) {
    QString error;
    const auto v = alarmLimitValue(edit->text(), error);
    if (!v)
        QMessageBox::critical(window(), QString(), error);
    return v;
}

void LimitsPanel::SetmaxExit() {
    if (const auto v = readAlarmLimit(Setmax))
        pipeline_.setAlarmHigh(*v);
}

void LimitsPanel::SetMinExit() {
    if (const auto v = readAlarmLimit(SetMin))
        pipeline_.setAlarmLow(*v);
}

bool LimitsPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty()) {
            const QChar c = typed.front();
            if ((watched == T1HI || watched == T1LO) &&
                !limitKeyAccepted(c, QString::fromStdString(pipeline_.decimalSep())))
                return true;
            if ((watched == Setmax || watched == SetMin) && !alarmKeyAccepted(c))
                return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace voltaro
