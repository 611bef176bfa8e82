#pragma once

#include "core/decode/ReadingEvaluator.h"

#include <QFrame>

#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace voltaro {

class JudgeLamp;
class MeterPipeline;

// The limits panel: the judgement limits with the measured value between
// them, the Pass/Fail lamp and the link blink; with the alarm limits and the
// running maximum and minimum, which the user never sees. It writes what the
// user sets into the pipeline's evaluation settings.
class LimitsPanel : public QFrame {
    Q_OBJECT
public:
    LimitsPanel(QWidget* parent, QWidget* outside, MeterPipeline& pipeline);
    ~LimitsPanel() override;

    // Writes the profile's alarm limit texts; a text that changes is taken as the limit.
    void applyAlarmTexts(const QString& maxText, const QString& minText);

    // What a decoded frame shows here.
    void showLimitTexts(const EvaluationSettings& s);
    void showMinMax(const ReadingEvaluator& e, const Reading& r);
    void showJudgement(Verdict v, const Reading& r);
    void blinkLink();

public slots:
    void T1HIChange();
    void SetmaxExit();
    void SetMinExit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void customEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The value and the link pictures change with every frame, but only their
    // state after a batch of frames is ever painted; they are set once the
    // batch has been handled, from the event loop.
    void showLatestLater();
    void showLatest();

    // The alarm limit edit's value, or none after saying why its text is no integer.
    std::optional<float> readAlarmLimit(const QLineEdit* edit);

    MeterPipeline& pipeline_;

    QLineEdit* T1HI;
    QLineEdit* T1VALUE;
    QLineEdit* T1LO;
    JudgeLamp* Shape1;
    QLabel* judge;
    QLabel* CONok;
    QLabel* CONokN;

    QCheckBox* SetMaxB;
    QLineEdit* Setmax;
    QCheckBox* SetMinB;
    QLineEdit* SetMin;
    QLabel* MaxText;
    QLabel* MinText;
    QLabel* MaxTextU;
    QLabel* MinTextU;

    std::optional<QString> latestValue_;
    // What the min/max labels show, to leave them alone while it holds.
    std::string shownMax_, shownMin_, shownUnit_;
    bool linkSwapPending_ = false;
    bool showLatestPosted_ = false;
};

} // namespace voltaro
