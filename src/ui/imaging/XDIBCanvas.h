#pragma once

// The drawing layer: a canvas with a pen, a brush and a font over a picture's
// pixels. TCanvas draws on any QImage (the controls paint their off-screen
// bitmaps through it); TDIBCanvas binds one to a TDIB's own pixel memory, so that
// canvas drawing and ScanLine see the same bytes. A TDIB keeps its rows
// bottom-up, so that canvas turns every drawing operation upside down on the way
// in. Everything here works on Qt's offscreen platform too.

#include "core/imaging/XDIBUnit.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QSize>
#include <QString>
#include <cstdint>
#include <memory>

namespace zx {

// A font as the drawing layer makes one: a face, a cell height in pixels (the
// whole cell, ascent plus descent; 0 is the default height), a colour, the
// escapement (= orientation) in tenths of a degree anticlockwise, and
// antialiasing.
struct TCanvasFont {
    QString Name = QStringLiteral("Sans Serif");
    std::int32_t Height = 0;
    QColor Color = Qt::black;
    std::int32_t Escapement = 0;
    bool Antialiased = true;
    bool Bold = false;
};

// The largest pixel size a cell font takes. Beyond about 16 000 pixels the
// font engine's metrics overflow (line heights come out negative), so the text
// of a cell taller than that line (only a picture tens of thousands of pixels
// wide asks for one) is drawn at this size.
inline constexpr std::int32_t kMaxCellFontPixels = 16384;

// The QFont for a face and a cell height: the largest pixel size up to
// kMaxCellFontPixels whose line height does not exceed cellHeight (never below
// 1 pixel). A cell height of 0 or less keeps the toolkit's default size.
QFont MakeCellFont(
    const QString& family, std::int32_t cellHeight, bool bold = false, bool antialiased = true);

class TCanvas {
public:
    // bottomUp: the image's first row is the picture's bottom row.
    explicit TCanvas(QImage& image, bool bottomUp = false);
    virtual ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    std::int32_t Width() const { return m_image.width(); }
    std::int32_t Height() const { return m_image.height(); }

    QColor PenColor() const { return m_penColor; }
    void SetPenColor(const QColor& color) { m_penColor = color; }
    QColor BrushColor() const { return m_brushColor; }
    void SetBrushColor(const QColor& color) { m_brushColor = color; }
    const TCanvasFont& Font() const { return m_font; }
    void SetFont(const TCanvasFont& font);
    // A ready-made font (a widget's own) in a colour, not rotated.
    void SetFont(const QFont& font, const QColor& color);

    // Every pixel of [left, right) x [top, bottom) in the brush colour, clipped.
    void FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    // A one-pixel line in the pen colour from the pen position to (x, y): the
    // start point drawn, the end point not; the pen then stands at (x, y).
    void MoveTo(std::int32_t x, std::int32_t y);
    void LineTo(std::int32_t x, std::int32_t y);
    QPoint PenPos() const { return m_penPos; }
    // The platform's focus rectangle: every other pixel of the outline of
    // [left, right) x [top, bottom) inverted.
    void DrawFocusRect(
        std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    // A dashed outline of the rectangle in the pen colour.
    void DrawDashedRect(
        std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    // Text in the font's colour with a transparent background: (x, y) is the
    // top-left corner of the text cell, and the text is turned about it by the
    // font's escapement. Only glyph pixels change.
    void TextOut(std::int32_t x, std::int32_t y, const QString& text);
    // Width and height of the unrotated text in the current font.
    QSize TextExtent(const QString& text) const;
    // A picture unscaled with its top-left pixel at (x, y), clipped; pixels
    // with alpha are blended over the canvas.
    void DrawImage(std::int32_t x, std::int32_t y, const QImage& image);
    // A TDIB unscaled at (x, y), and stretched into [left, right) x [top, bottom)
    // with nearest-neighbour sampling (rows and columns dropped or repeated,
    // never blended).
    virtual void Draw(std::int32_t x, std::int32_t y, const TDIB& picture);
    virtual void StretchDraw(std::int32_t left, std::int32_t top, std::int32_t right,
        std::int32_t bottom, const TDIB& picture);

protected:
    // Runs before every drawing operation.
    virtual void BeforeDrawing() { }
    // Finishes pending painter work before the pixels are touched directly.
    void Flush();
    QPainter& Painter();
    // The image row of canvas row y.
    std::int32_t ImageRow(std::int32_t y) const
    {
        return m_bottomUp ? m_image.height() - 1 - y : y;
    }
    void SetPixel(std::int32_t x, std::int32_t y, const QColor& color);

private:
    QImage& m_image;
    bool m_bottomUp;
    std::unique_ptr<QPainter> m_painter;
    QColor m_penColor = Qt::black;
    QColor m_brushColor = Qt::white;
    TCanvasFont m_font;
    QFont m_qfont;
    QPoint m_penPos;
};

// A canvas on a 24- or 32-bit TDIB's own pixel memory. Before every drawing
// operation the picture gets a private storage (copy on write), so pictures
// that share its storage keep their pixels, and the canvas follows the picture
// to that storage. The picture must not change its size while the canvas lives.
namespace detail {
    // Holds the wrapping image so that it exists before the TCanvas base that
    // paints on it.
    struct TDIBCanvasImage {
        QImage Wrapped;
    };
} // namespace detail

class TDIBCanvas : private detail::TDIBCanvasImage, public TCanvas {
public:
    explicit TDIBCanvas(TDIB& target);
    ~TDIBCanvas() override;

    void Draw(std::int32_t x, std::int32_t y, const TDIB& picture) override;
    void StretchDraw(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom,
        const TDIB& picture) override;

protected:
    void BeforeDrawing() override;

private:
    TDIB& m_target;
};

// A top-down copy of a picture of any bit count for showing on screen
// (24 bits: Format_BGR888, everything else Format_RGB32). Empty for an empty
// picture.
QImage DIBToQImage(const TDIB& picture);

// A 24-bit picture of the image's size with the image drawn on black at (0, 0)
// (so pixels with alpha come out blended over black). Empty for an empty image.
TDIB QImageToDIB(const QImage& image);

} // namespace zx
