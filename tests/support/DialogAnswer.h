#pragma once

// Answerers of the modal dialogs a handler opens, as a user would answer them.
// Each is an object of the test: it answers while it lives, it fails the test
// when a dialog it requires never came, and it can never answer a dialog of a
// later test.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace voltaro::testing {

enum class Expect { Required, Optional };

class ModalAnswerer {
public:
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;
    // Dialogs answered.
    int answered() const { return answered_; }

protected:
    ModalAnswerer(const char* what, Expect expect) : what_(what), expect_(expect) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    ~ModalAnswerer() {
        timer_.stop();
        if (expect_ == Expect::Required && answered_ == 0)
            ADD_FAILURE() << "expected " << what_ << ", but none came";
    }
    // Answers `modal` and returns true, or returns false when it is not the
    // kind of dialog this answerer is for.
    virtual bool answer(QWidget* modal) = 0;

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            unanswered_.invalidate();
            return;
        }
        if (answer(modal)) {
            ++answered_;
            unanswered_.invalidate();
            return;
        }
        // A dialog nobody answers would block the test for ever: close it.
        if (!unanswered_.isValid())
            unanswered_.start();
        else if (unanswered_.elapsed() > 3000) {
            ADD_FAILURE() << "a dialog nobody answers: " << modal->metaObject()->className() << " "
                          << modal->windowTitle().toStdString();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
            unanswered_.invalidate();
        }
    }

    const char* what_;
    Expect expect_;
    QTimer timer_;
    QElapsedTimer unanswered_;
    int answered_ = 0;
};

// Presses `button` on every message box that has it, and keeps what the last
// one showed.
class MessageBoxAnswer : public ModalAnswerer {
public:
    explicit MessageBoxAnswer(QMessageBox::StandardButton button, Expect expect = Expect::Required)
        : ModalAnswerer("a message box", expect), button_(button) {}
    ~MessageBoxAnswer() = default;

    QString text() const { return text_; }
    QString title() const { return title_; }
    QMessageBox::Icon icon() const { return icon_; }

protected:
    bool answer(QWidget* modal) override {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QAbstractButton* b = box ? box->button(button_) : nullptr;
        if (!b)
            return false;
        text_ = box->text();
        title_ = box->windowTitle();
        icon_ = box->icon();
        b->click();
        return true;
    }

private:
    QMessageBox::StandardButton button_;
    QString text_;
    QString title_;
    QMessageBox::Icon icon_ = QMessageBox::NoIcon;
};

// Types `path` into the next file dialog's name field (as a user may type a
// whole path) and accepts it; an empty path cancels the dialog instead.
class FileDialogAnswer : public ModalAnswerer {
public:
    explicit FileDialogAnswer(const QString& path, Expect expect = Expect::Required)
        : ModalAnswerer("a file dialog", expect), path_(path) {}
    ~FileDialogAnswer() = default;

protected:
    bool answer(QWidget* modal) override {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog || done_)
            return false;
        done_ = true;
        if (path_.isEmpty()) {
            dialog->reject();
            return true;
        }
        const QFileInfo info(path_);
        // Open the nearest existing folder above the file.
        QFileInfo folder(info.absolutePath());
        while (!folder.isDir() && folder.absoluteFilePath() != folder.absolutePath())
            folder.setFile(folder.absolutePath());
        dialog->setDirectory(folder.absoluteFilePath());
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(info.absoluteFilePath());
        else
            dialog->selectFile(info.absoluteFilePath());
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        return true;
    }

private:
    QString path_;
    bool done_ = false;
};

} // namespace voltaro::testing
