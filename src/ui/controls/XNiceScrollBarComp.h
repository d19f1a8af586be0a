#pragma once

// TNiceScrollBar: the slider behind every numeric setting. A sunken groove, a
// raised thumb with grip ridges and, above the thumb, a one-line label made from
// a template ("帧数：<#Pos>"). The mouse drags or jumps (snapped to the
// SmallChange grid), the arrow keys of the slider's own axis step, and a
// double-click returns to the default. Setters never emit OnChange or OnScroll;
// only the user's actions do.

#include "core/controls/XNiceScrollBarComp.h"

#include <QString>
#include <QWidget>

namespace zx {

class TNiceScrollBar : public QWidget {
    Q_OBJECT

public:
    explicit TNiceScrollBar(QWidget* parent = nullptr);

    std::int32_t Min() const { return m_model.Min(); }
    std::int32_t Max() const { return m_model.Max(); }
    std::int32_t Position() const { return m_model.Position(); }
    std::int32_t DefaultPos() const { return m_model.DefaultPos(); }
    TDefaultModes DefaultMode() const { return m_model.DefaultMode(); }
    std::int32_t SmallChange() const { return m_model.SmallChange(); }
    TScrollBarKind Kind() const { return m_model.Kind(); }
    TScrollBarKind Button() const { return m_model.Button(); }
    bool LabelVisible() const { return m_model.LabelVisible(); }
    // The slider's own enabled flag: greys the label and ignores mouse presses,
    // but leaves the arrow keys and the double-click working. Separate from
    // QWidget's enabled state.
    bool Enabled() const { return m_enabled; }
    const QString& LabelCaption() const { return m_labelCaption; }
    bool Hold() const { return m_hold; }
    bool SkipMouseDown() const { return m_skipMouseDown; }
    std::int32_t GrabX() const { return m_grabX; }
    std::int32_t GrabY() const { return m_grabY; }

    void SetMin(std::int32_t value);
    void SetMax(std::int32_t value);
    void SetPosition(std::int32_t value);
    void SetDefaultPos(std::int32_t value);
    void SetDefaultMode(TDefaultModes value);
    void SetSmallChange(std::int32_t value);
    void SetKind(TScrollBarKind value);
    void SetButton(TScrollBarKind value);
    void SetLabelVisible(bool value);
    void SetEnabled(bool value);
    void SetLabelCaption(const QString& value);

    // The label as it is shown now: the template expanded with the user's
    // locale separators.
    QString LabelText() const;
    // Geometry at the control's current size, for painting and tests.
    TSliderPoint ThumbOrigin() const;
    TSliderPoint ThumbSize() const { return m_model.ThumbSize(); }

    QSize sizeHint() const override { return { 120, 32 }; }

signals:
    // After every change the user makes.
    void OnChange(zx::TNiceScrollBar* sender);
    // Before OnChange, and alone for the end of a drag (scEndScroll).
    void OnScroll(zx::TNiceScrollBar* sender, zx::TScrollCode code, int& position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::int32_t TextHeight() const;
    // Stores a position the user chose and repaints when the picture changes.
    bool UserChangePosition(std::int32_t value);
    void Notify(TScrollCode code);
    bool IsOwnArrowKey(int key) const;

    TNiceScrollBarModel m_model;
    bool m_enabled = true;
    QString m_labelCaption = QStringLiteral("Position: <#Pos>");
    bool m_hold = false;
    bool m_skipMouseDown = false;
    std::int32_t m_grabX = 0;
    std::int32_t m_grabY = 0;
};

} // namespace zx
