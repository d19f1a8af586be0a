#pragma once

// The hourglass for as long as a command works: shown when made, the normal
// cursor back when it goes, on every way out of the command.

#include <QApplication>

namespace zx {

class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace zx
