#pragma once

#include <QLabel>

namespace voltaro {

// A raised panel with a caption that acts as a button: it reports a click
// when the left button is released over it, and not while it is disabled.
class ClickPanel : public QLabel {
    Q_OBJECT
public:
    explicit ClickPanel(const QString& caption, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A picture that reacts to clicks like a button (the chart's enlarge and
// restore images).
class ClickImage : public QLabel {
    Q_OBJECT
public:
    explicit ClickImage(QWidget* parent = nullptr) : QLabel(parent) {}

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace voltaro
