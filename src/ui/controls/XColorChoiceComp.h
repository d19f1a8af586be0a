#pragma once

// TColorChoice: the compact colour picker. A swatch strip along the top
// (TColorDisplay) shows the colour with the caption written on it and opens
// the colour dialog when clicked or when the space bar is released; the chart
// below (TColorChart) is a field of hues and lightnesses in which a press or a
// drag picks a colour directly. Setters never emit OnChange; picks in the chart
// and a confirmed dialog do.

#include "core/controls/XColorChoiceComp.h"

#include <QFrame>
#include <QImage>
#include <QString>

namespace zx {

class TCanvas;
class TColorChoice;

// Gives canvas the font for a caption written on a swatch width pixels wide:
// its own font, or, where the caption is wider than the swatch within its focus
// frame (a long word of a translation), the largest smaller one that fits,
// down to 8 pixels high.
void FitSwatchCaption(TCanvas& canvas, const QString& caption, std::int32_t width);

enum TBorderStyle : std::int32_t { bsNone = 0, bsSingle = 1 };

// The swatch: 18 pixels high along the top of its chooser, hand cursor.
class TColorDisplay : public QWidget {
    Q_OBJECT

public:
    explicit TColorDisplay(TColorChoice* owner);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TColorChoice* m_owner;
    bool m_pressed = false;
};

// The chart: fills the chooser below the swatch, ring cursor.
class TColorChart : public QWidget {
    Q_OBJECT

public:
    explicit TColorChart(TColorChoice* owner);

    // The chart picture is made again at the next paint.
    void Invalidate();
    // The colour a pick at a point of the chart gives now.
    TColor PickAt(QPoint at) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    TColorChoice* m_owner;
    QImage m_picture;
};

class TColorChoice : public QFrame {
    Q_OBJECT

public:
    // 56 x 56, black, caption "Color", vertical, no border.
    explicit TColorChoice(QWidget* parent = nullptr);

    TColor Color() const { return m_color; }
    // Stores the colour (the top byte cleared) and repaints the swatch.
    void SetColor(TColor value);
    // Written on the swatch and used as the colour dialog's title.
    const QString& Caption() const { return m_caption; }
    void SetCaption(const QString& value);
    TColorChoiceKind Kind() const { return m_kind; }
    void SetKind(TColorChoiceKind value);
    // bsSingle draws a sunken edge around both parts.
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle value);

    TColorDisplay* Display() const { return m_display; }
    TColorChart* Chart() const { return m_chart; }

    // What a swatch click and the space bar do: runs the colour dialog on
    // the colour; a confirmed choice becomes Color and emits OnChange. The
    // chooser has the focus afterwards either way.
    void ExecuteDialog();

    QSize sizeHint() const override { return { 56, 56 }; }

signals:
    // After every pick in the chart (also when the colour stayed the same)
    // and after the dialog was confirmed. Read the colour from Color().
    void OnChange(zx::TColorChoice* sender);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class TColorChart;
    void ChartPick(TColor color);
    void PlaceParts();

    TColor m_color = 0;
    QString m_caption = QStringLiteral("Color");
    TColorChoiceKind m_kind = ccVertical;
    TBorderStyle m_borderStyle = bsNone;
    TColorDisplay* m_display = nullptr;
    TColorChart* m_chart = nullptr;
};

} // namespace zx
