#include "ui/imaging/XDIBCanvas.h"

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/imaging/XDIBDraw.h"

#include <QFontMetrics>
#include <QTransform>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zx {

namespace {

    QImage WrapPixels(TDIB& target)
    {
        if (target.Empty())
            return {};
        QImage::Format format;
        switch (target.BitCount()) {
        case 24:
            format = QImage::Format_BGR888;
            break;
        case 32:
            format = QImage::Format_RGB32;
            break;
        default:
            throw EInvalidGraphicOperation("像素格式无效");
        }
        // Bits() gives the picture a private storage first; its first stored row
        // is the bottom row of the picture.
        return QImage(target.Bits(), target.Width(), target.Height(), target.RowBytes(), format);
    }

    QFont WithSize(QFont font, std::int32_t pixels)
    {
        font.setPixelSize(std::max(pixels, 1));
        return font;
    }

} // namespace

QFont MakeCellFont(const QString& family, std::int32_t cellHeight, bool bold, bool antialiased)
{
    QFont font(family);
    font.setBold(bold);
    // Grey-level antialiasing only: colour fringes would differ from one
    // display to the next, and the offscreen platform (the CLI) has none.
    font.setStyleStrategy(antialiased
            ? QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias)
            : QFont::NoAntialias);
    if (cellHeight <= 0)
        return font;
    // The line height grows with the pixel size but not in proportion, and not
    // the same way for every face: start from a proportional guess and step to
    // the largest size that fits the cell.
    // Each size asked for loads a font engine, and at huge sizes the engine's
    // line height may stop growing at all (a wide picture asks for cells of
    // thousands of pixels): the walk is a few steps for any face seen so far,
    // and where it takes more, bisection finds the same size in a bounded
    // number of tries.
    // A height that overflowed counts as too tall.
    const auto lineHeight = [&font](std::int32_t pixels) {
        const int height = QFontMetrics(WithSize(font, pixels)).height();
        return height > 0 ? height : std::numeric_limits<int>::max();
    };
    const std::int32_t atCell = lineHeight(cellHeight);
    const std::int64_t guess
        = atCell > 0 ? std::int64_t(cellHeight) * cellHeight / atCell : cellHeight;
    std::int32_t pixels = std::int32_t(std::clamp<std::int64_t>(guess, 1, kMaxCellFontPixels));
    constexpr int kWalkSteps = 64;
    int steps = 0;
    while (pixels > 1 && lineHeight(pixels) > cellHeight && ++steps <= kWalkSteps)
        --pixels;
    while (steps <= kWalkSteps && pixels < kMaxCellFontPixels
        && lineHeight(pixels + 1) <= cellHeight && ++steps <= kWalkSteps)
        ++pixels;
    if (steps <= kWalkSteps)
        return WithSize(font, pixels);
    // The largest size in [1, kMaxCellFontPixels] whose line fits, or 1.
    std::int32_t fits = 1;
    std::int32_t tooTall = kMaxCellFontPixels + 1;
    while (tooTall - fits > 1) {
        const std::int32_t middle = fits + (tooTall - fits) / 2;
        if (lineHeight(middle) <= cellHeight)
            fits = middle;
        else
            tooTall = middle;
    }
    return WithSize(font, fits);
}

TCanvas::TCanvas(QImage& image, bool bottomUp)
    : m_image(image)
    , m_bottomUp(bottomUp)
{
    SetFont(m_font);
}

TCanvas::~TCanvas()
{
    Flush();
}

void TCanvas::Flush()
{
    if (m_painter)
        m_painter->end();
    m_painter.reset();
}

QPainter& TCanvas::Painter()
{
    if (!m_painter) {
        m_painter = std::make_unique<QPainter>(&m_image);
        if (m_bottomUp)
            m_painter->setTransform(QTransform(1, 0, 0, -1, 0, m_image.height()));
    }
    return *m_painter;
}

void TCanvas::SetFont(const TCanvasFont& font)
{
    m_font = font;
    m_qfont = MakeCellFont(font.Name, font.Height, font.Bold, font.Antialiased);
}

void TCanvas::SetFont(const QFont& font, const QColor& color)
{
    m_font = TCanvasFont { font.family(), 0, color, 0, font.styleStrategy() != QFont::NoAntialias,
        font.bold() };
    m_qfont = font;
}

void TCanvas::SetPixel(std::int32_t x, std::int32_t y, const QColor& color)
{
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return;
    m_image.setPixelColor(x, ImageRow(y), color);
}

void TCanvas::FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom)
{
    BeforeDrawing();
    if (m_image.isNull() || right <= left || bottom <= top)
        return;
    Painter().fillRect(QRect(left, top, right - left, bottom - top), m_brushColor);
}

void TCanvas::MoveTo(std::int32_t x, std::int32_t y)
{
    m_penPos = QPoint(x, y);
}

void TCanvas::LineTo(std::int32_t x, std::int32_t y)
{
    // Bresenham from the pen position, stopping one pixel short of the end.
    std::int32_t x0 = m_penPos.x();
    std::int32_t y0 = m_penPos.y();
    const std::int32_t dx = std::abs(x - x0);
    const std::int32_t dy = -std::abs(y - y0);
    const std::int32_t sx = x0 < x ? 1 : -1;
    const std::int32_t sy = y0 < y ? 1 : -1;
    std::int32_t error = dx + dy;
    BeforeDrawing();
    if (!m_image.isNull()) {
        Flush();
        while (x0 != x || y0 != y) {
            SetPixel(x0, y0, m_penColor);
            const std::int32_t e2 = 2 * error;
            if (e2 >= dy) {
                error += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                error += dx;
                y0 += sy;
            }
        }
    }
    m_penPos = QPoint(x, y);
}

void TCanvas::DrawFocusRect(
    std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom)
{
    BeforeDrawing();
    if (m_image.isNull() || right <= left || bottom <= top)
        return;
    Flush();
    const auto invert = [&](std::int32_t x, std::int32_t y) {
        if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
            return;
        const QColor c = m_image.pixelColor(x, ImageRow(y));
        SetPixel(x, y, QColor(255 - c.red(), 255 - c.green(), 255 - c.blue()));
    };
    // Walk the outline once, so that no corner pixel is inverted twice.
    std::int32_t step = 0;
    for (std::int32_t x = left; x < right; ++x, ++step)
        if (step % 2 == 0)
            invert(x, top);
    for (std::int32_t y = top + 1; y < bottom; ++y, ++step)
        if (step % 2 == 0)
            invert(right - 1, y);
    if (bottom - 1 > top)
        for (std::int32_t x = right - 2; x >= left; --x, ++step)
            if (step % 2 == 0)
                invert(x, bottom - 1);
    if (right - 1 > left)
        for (std::int32_t y = bottom - 2; y > top; --y, ++step)
            if (step % 2 == 0)
                invert(left, y);
}

void TCanvas::DrawDashedRect(
    std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom)
{
    BeforeDrawing();
    if (m_image.isNull() || right <= left || bottom <= top)
        return;
    QPainter& painter = Painter();
    painter.save();
    painter.setPen(QPen(m_penColor, 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
    painter.restore();
}

void TCanvas::TextOut(std::int32_t x, std::int32_t y, const QString& text)
{
    BeforeDrawing();
    if (m_image.isNull() || text.isEmpty())
        return;
    QPainter& painter = Painter();
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, m_font.Antialiased);
    painter.setFont(m_qfont);
    painter.setPen(m_font.Color);
    painter.translate(x, y);
    // The escapement turns anticlockwise on the screen; y grows downwards here.
    if (m_font.Escapement != 0)
        painter.rotate(-m_font.Escapement / 10.0);
    painter.drawText(QPointF(0, QFontMetrics(m_qfont).ascent()), text);
    painter.restore();
}

QSize TCanvas::TextExtent(const QString& text) const
{
    const QFontMetrics metrics(m_qfont);
    return { metrics.horizontalAdvance(text), metrics.height() };
}

void TCanvas::DrawImage(std::int32_t x, std::int32_t y, const QImage& image)
{
    BeforeDrawing();
    if (m_image.isNull() || image.isNull())
        return;
    Painter().drawImage(QPoint(x, y), image);
}

void TCanvas::Draw(std::int32_t x, std::int32_t y, const TDIB& picture)
{
    DrawImage(x, y, DIBToQImage(picture));
}

void TCanvas::StretchDraw(std::int32_t left, std::int32_t top, std::int32_t right,
    std::int32_t bottom, const TDIB& picture)
{
    if (m_image.isNull() || picture.Empty() || right <= left || bottom <= top)
        return;
    // Sample exactly as the core's stretch does, then copy the result 1:1.
    TDIB stretched;
    stretched.SetSize(right - left, bottom - top, 24);
    zx::StretchDraw(stretched, 0, 0, right - left, bottom - top, picture);
    DrawImage(left, top, DIBToQImage(stretched));
}

TDIBCanvas::TDIBCanvas(TDIB& target)
    : detail::TDIBCanvasImage { WrapPixels(target) }
    , TCanvas(Wrapped, true)
    , m_target(target)
{
}

TDIBCanvas::~TDIBCanvas()
{
    Flush();
}

void TDIBCanvas::BeforeDrawing()
{
    if (Wrapped.isNull())
        return;
    // Bits() unshares the storage; when that moved the pixels, the canvas goes
    // with them.
    if (m_target.Bits() != Wrapped.constBits()) {
        Flush();
        Wrapped = WrapPixels(m_target);
    }
}

void TDIBCanvas::Draw(std::int32_t x, std::int32_t y, const TDIB& picture)
{
    if (Wrapped.isNull())
        return;
    Flush();
    zx::DrawDIB(m_target, x, y, picture);
    BeforeDrawing();
}

void TDIBCanvas::StretchDraw(std::int32_t left, std::int32_t top, std::int32_t right,
    std::int32_t bottom, const TDIB& picture)
{
    if (Wrapped.isNull())
        return;
    Flush();
    zx::StretchDraw(m_target, left, top, right, bottom, picture);
    BeforeDrawing();
}

QImage DIBToQImage(const TDIB& picture)
{
    if (picture.Empty())
        return {};
    const std::int32_t width = picture.Width();
    const std::int32_t height = picture.Height();
    if (picture.BitCount() == 24) {
        QImage image(width, height, QImage::Format_BGR888);
        for (std::int32_t y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), picture.ConstScanLine(y), std::size_t(width) * 3);
        return image;
    }
    QImage image(width, height, QImage::Format_RGB32);
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = picture.ConstScanLine(y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t c = SourceColor(picture, in, x); // 0x00BBGGRR
            out[x] = qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
        }
    }
    return image;
}

TDIB QImageToDIB(const QImage& image)
{
    TDIB picture;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return picture;
    CheckPixelMemory(std::uint64_t(image.width()), std::uint64_t(image.height()), 3);
    picture.SetSize(image.width(), image.height(), 24);
    std::memset(picture.Bits(), 0, std::size_t(picture.Size()));
    {
        TDIBCanvas canvas(picture);
        canvas.DrawImage(0, 0, image);
    }
    return picture;
}

} // namespace zx
