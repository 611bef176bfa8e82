#pragma once

#include "core/recording/DataFiles.h"

#include <QString>

#include <chrono>
#include <functional>

class QWidget;

namespace voltaro {

// Runs the load or save of a data file on a thread of its own and returns
// when it is done. Meanwhile the window's event loop goes on: timers fire,
// the link's polls and reports are taken in (the window holds them, see
// InputHold), the window repaints; the user's clicks and keys wait until the
// file is done. Once the work has taken longer than kShowAfter, a progress
// dialog over `parent` shows how far it has come.
//
// `work` runs on the other thread: it may read the reading table, which the
// window leaves unchanged meanwhile, and must not touch a widget. It reports
// through the Progress it is given.
class FileWork {
public:
    static constexpr std::chrono::milliseconds kShowAfter{400};
    static void run(QWidget* parent, const QString& text,
                    const std::function<void(datafiles::Progress&)>& work);
};

} // namespace voltaro
