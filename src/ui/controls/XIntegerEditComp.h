#pragma once

// TIntegerEdit: a one-line edit for a whole number within MinValue..MaxValue.
// Typed characters other than digits, the minus sign and control keys are
// dropped (with the system beep when Beep is set); reading Value rewrites the
// text to the clamped number, and so does leaving the edit, after OnExit has
// seen the text as typed. Setters never emit OnExit.

#include "core/controls/XIntegerEditComp.h"

#include <QLineEdit>

namespace zx {

class TIntegerEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TIntegerEdit(QWidget* parent = nullptr);

    bool Beep() const { return m_beep; }
    void SetBeep(bool value) { m_beep = value; }
    std::int32_t MinValue() const { return m_range.MinValue(); }
    std::int32_t MaxValue() const { return m_range.MaxValue(); }
    // Lowered to MaxValue when above it; a Value below the value given is
    // raised to it.
    void SetMinValue(std::int32_t value);
    // Raised to MinValue when below it; a Value above the value given is
    // lowered to it.
    void SetMaxValue(std::int32_t value);

    // The text as a number clamped to the range, MinValue when it is not a
    // number; the text is rewritten to that number.
    std::int32_t Value();
    void SetValue(std::int32_t value);

    // Whether a typed character may enter the text.
    virtual bool IsValidChar(char32_t ch) const { return IsValidIntegerChar(ch); }

signals:
    // The focus moved from the edit to another control of its window; the
    // text is still as the user left it and is normalised right after.
    void OnExit(zx::TIntegerEdit* sender);

protected:
    // The rejected-keystroke sound; the default is the system beep.
    virtual void SoundBeep();
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Replaces the text only when it differs, so an unchanged text keeps its
    // modified flag and undo history.
    void ShowText(const QString& text);

    TIntegerRange m_range;
    bool m_beep = false;
    // The focus went to another window or a popup, and may come back.
    bool m_away = false;
};

} // namespace zx
