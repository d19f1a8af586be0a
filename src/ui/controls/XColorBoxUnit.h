#pragma once

// TColorBoxForm: the colour dialog. One of six components (hue, saturation,
// brightness, red, green, blue) is selected with a radio button; the 256 x 256
// plane shows the colours spanned by two of the others and the 24 x 256 strip
// the range of the selected one. Six integer edits show and take the numbers,
// and a swatch compares the colour the dialog was opened with (upper half) with
// the one being edited (lower half). Plane and strip are shown through gamma
// 1.5, so they look lighter than the colours they stand for; the swatch shows
// the exact colours. Run it through TColorBox (XColorBoxComp.h).

#include "core/controls/XColorUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <array>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace zx {

class TIntegerEdit;

// A surface the dialog copies its off-screen pictures to. It keeps what was
// last copied and repaints from that, and reports presses and drags of the
// left mouse button.
class TColorPaintBox : public QWidget {
    Q_OBJECT

public:
    TColorPaintBox(QWidget* parent, std::int32_t width, std::int32_t height);

    // What the box shows now.
    const QImage& Screen() const { return m_screen; }
    QImage& Screen() { return m_screen; }
    // Copies the part rect of a 32-bit picture of the box's size to the same
    // place on the box and schedules its repaint.
    void CopyFrom(const TDIB& picture, const QRect& rect);

signals:
    // A left press at a point of the box, and a move with the left button
    // held (the point may then lie outside the box).
    void OnMouseDown(zx::TColorPaintBox* sender, QPoint at);
    void OnMouseMove(zx::TColorPaintBox* sender, QPoint at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QImage m_screen;
};

// The selected component.
enum TColorBoxMode : std::int32_t {
    cmHue = 0,
    cmSaturation = 1,
    cmBrightness = 2,
    cmRed = 3,
    cmGreen = 4,
    cmBlue = 5,
};

class TColorBoxForm : public QDialog {
    Q_OBJECT

public:
    // Sets the gamma tables to 1.5 (they stay so after the dialog is gone) and
    // opens on pure red in hue mode.
    explicit TColorBoxForm(QWidget* parent = nullptr);
    ~TColorBoxForm() override;

    // A colour other than the current one becomes both the opening and the
    // current colour, and everything is redrawn.
    void SetColor(TColor color);
    TColor GetColor() const { return m_currentColor; }

    TColor InitialColor() const { return m_initialColor; }
    TColor CurrentColor() const { return m_currentColor; }
    const THSBValues& HSBValues() const { return m_hsbValues; }
    TColorBoxMode Mode() const { return m_mode; }
    std::int32_t PlaneX() const { return m_planeX; }
    std::int32_t PlaneY() const { return m_planeY; }
    std::int32_t StripY() const { return m_stripY; }
    // The part of the plane the next drawing recomputes.
    const QRect& UpdateRect() const { return m_updateRect; }

    // The mode name shown in the group box caption ("色调" ...).
    static QString ModeName(TColorBoxMode mode);

    // The off-screen pictures: the plane and the strip before they are copied
    // to their boxes, marker included.
    const TDIB& PlanePicture() const { return m_plane; }
    const TDIB& StripPicture() const { return m_strip; }

    TColorPaintBox* BigPaintBox = nullptr;
    TColorPaintBox* SmallPaintBox = nullptr;
    TColorPaintBox* DisplayPaintBox = nullptr;
    QGroupBox* ValuesGroupBox = nullptr;
    QRadioButton* HueRadioButton = nullptr;
    QRadioButton* SatRadioButton = nullptr;
    QRadioButton* BriRadioButton = nullptr;
    QRadioButton* RedRadioButton = nullptr;
    QRadioButton* GreenRadioButton = nullptr;
    QRadioButton* BlueRadioButton = nullptr;
    TIntegerEdit* HueEdit = nullptr;
    TIntegerEdit* SatEdit = nullptr;
    TIntegerEdit* BriEdit = nullptr;
    TIntegerEdit* RedEdit = nullptr;
    TIntegerEdit* GreenEdit = nullptr;
    TIntegerEdit* BlueEdit = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    // What a click on the mode's radio button does.
    void SelectMode(zx::TColorBoxMode mode);
    // What a left press, or a drag, at a point of the plane or the strip does.
    // Points outside are clamped to the edge.
    void PickPlane(std::int32_t x, std::int32_t y);
    void PickStrip(std::int32_t y);
    // "确定": takes a number typed into the focused edit, then closes
    // confirmed.
    void OKButtonClick();
    // "取消", Escape and closing the window: back to the opening colour,
    // closed unconfirmed.
    void reject() override;

private:
    // The edit lost the focus: a changed text sets the colour.
    void EditExit(TIntegerEdit* sender);
    void FillHSBEdits();
    void FillRGBEdits();
    void UpdateMarkers();
    // The component value (HSB 16-bit, RGB byte) that runs along an axis.
    std::int32_t Component(std::int32_t index) const;
    void SetComponent(std::int32_t index, std::int32_t value);
    // The colour (before gamma) at a plane point and a strip row.
    TColor PlaneColor(std::int32_t x, std::int32_t y) const;
    TColor StripColor(std::int32_t row) const;
    // Recomputes the plane within UpdateRect, draws the marker and copies the
    // part to the plane box.
    void DrawPlane();
    void DrawStrip();
    // The whole swatch, or only its lower (current colour) half.
    void DrawDisplay(bool whole);
    void DrawMarker(TDIB& target, std::int32_t left, std::int32_t top) const;

    TColor m_initialColor = 0;
    THSBValues m_hsbValues;
    TColor m_currentColor = 0;
    TColorBoxMode m_mode = cmHue;
    std::int32_t m_planeX = 0;
    std::int32_t m_planeY = 0;
    std::int32_t m_stripY = 0;
    QRect m_updateRect;
    // The ring marker; its top-left colour stands for transparent.
    TDIB m_markerBitmap;
    TColor m_markerKey = 0;
    TDIB m_plane;
    TDIB m_strip;
    QButtonGroup* m_modeButtons = nullptr;
    std::array<TIntegerEdit*, 6> m_edits {};
};

} // namespace zx
