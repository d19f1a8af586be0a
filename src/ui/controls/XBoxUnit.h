#pragma once

// The program's message boxes: the warning box, and the error box in which a
// menu command that failed shows its message. Every command handler runs
// through RunCommand, so no exception ever reaches Qt's event loop.

#include <QString>
#include <functional>

class QWidget;

namespace zx {

// A modal box with the warning icon, the title "警告" and one button "确定";
// returns when it is closed.
void ShowWarning(const QString& text, QWidget* parent = nullptr);

// The error box: the application's title, the error icon, the message and
// "确定".
void ShowError(const QString& text, QWidget* parent = nullptr);

// Runs a command; an exception that ends it is shown in one error box. Returns
// false when the command failed.
bool RunCommand(QWidget* parent, const std::function<void()>& command);

// Tests replace the boxes so that nothing modal blocks them; the hook receives
// the title and the text. An empty hook restores the real boxes.
using TMessageBoxHook = std::function<void(const QString& title, const QString& text)>;
void SetMessageBoxHook(TMessageBoxHook hook);

} // namespace zx
