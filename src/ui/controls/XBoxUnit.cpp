#include "ui/controls/XBoxUnit.h"

#include "ui/controls/XLanguageUnit.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <exception>

namespace zx {

namespace {

    TMessageBoxHook& Hook()
    {
        static TMessageBoxHook hook;
        return hook;
    }

    void ShowBox(QMessageBox::Icon icon, const QString& title, const QString& text, QWidget* parent)
    {
        if (Hook()) {
            Hook()(title, text);
            return;
        }
        QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
        box.addButton(QCoreApplication::translate("zx::XBoxUnit", "确定"), QMessageBox::AcceptRole);
        box.exec();
    }

} // namespace

void SetMessageBoxHook(TMessageBoxHook hook)
{
    Hook() = std::move(hook);
}

void ShowWarning(const QString& text, QWidget* parent)
{
    ShowBox(
        QMessageBox::Warning, QCoreApplication::translate("zx::XBoxUnit", "警告"), text, parent);
}

void ShowError(const QString& text, QWidget* parent)
{
    ShowBox(QMessageBox::Critical, QApplication::applicationDisplayName(), text, parent);
}

bool RunCommand(QWidget* parent, const std::function<void()>& command)
{
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        ShowError(CoreMessage(error.what()), parent);
    } catch (...) {
        ShowError(QCoreApplication::translate("zx::XBoxUnit", "未知错误"), parent);
    }
    return false;
}

} // namespace zx
