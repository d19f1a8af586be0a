#include "ui/controls/XIntegerEditComp.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

namespace zx {

TIntegerEdit::TIntegerEdit(QWidget* parent)
    : QLineEdit(QStringLiteral("0"), parent)
{
    // Only digits go in; an input method would hand over composed text that
    // the keystroke filter never sees.
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void TIntegerEdit::ShowText(const QString& value)
{
    if (text() != value)
        setText(value);
}

void TIntegerEdit::SetMinValue(std::int32_t value)
{
    if (!m_range.SetMinValue(value))
        return;
    if (Value() < value)
        SetValue(value);
}

void TIntegerEdit::SetMaxValue(std::int32_t value)
{
    if (!m_range.SetMaxValue(value))
        return;
    if (value < Value())
        SetValue(value);
}

std::int32_t TIntegerEdit::Value()
{
    const std::int32_t value
        = TextToInteger(text().toStdString(), m_range.MinValue(), m_range.MaxValue());
    SetValue(value);
    return value;
}

void TIntegerEdit::SetValue(std::int32_t value)
{
    ShowText(QString::fromStdString(IntegerToText(value, m_range.MinValue(), m_range.MaxValue())));
}

void TIntegerEdit::SoundBeep()
{
    QApplication::beep();
}

void TIntegerEdit::keyPressEvent(QKeyEvent* event)
{
    // Enter belongs to the dialog (its default button), never to the text.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    // Delete comes with the character 127 on some platforms, but it is an
    // editing key, not a typed character.
    if (event->key() != Qt::Key_Delete) {
        // Control with a letter types that letter's control character (Ctrl+V
        // is 22), whether or not the platform says so in the event's text.
        const bool control
            = (event->modifiers() & Qt::ControlModifier) && !(event->modifiers() & Qt::AltModifier);
        for (char32_t ch : event->text().toUcs4()) {
            if (control && ((ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z')))
                ch &= 0x1F;
            if (!IsValidChar(ch)) {
                if (m_beep)
                    SoundBeep();
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TIntegerEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // A mouse press places the cursor itself. Coming back from another
    // window or from the context menu keeps the selection the user had; the
    // first focus of a window that opens is an ordinary entry.
    const Qt::FocusReason reason = event->reason();
    const bool returning
        = m_away && (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason);
    m_away = false;
    if (reason != Qt::MouseFocusReason && !returning)
        selectAll();
}

void TIntegerEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Switching to another window or opening the context menu does not leave
    // the edit.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
        m_away = true;
        return;
    }
    emit OnExit(this);
    Value();
}

} // namespace zx
