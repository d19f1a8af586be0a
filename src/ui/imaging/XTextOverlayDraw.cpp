#include "ui/imaging/XTextOverlayDraw.h"

#include "core/Errors.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QFontDatabase>
#include <algorithm>
#include <vector>

namespace zx {

namespace {

    QColor ToQColor(std::uint32_t color)
    {
        return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
    }

    std::vector<TTextExtent> Measure(const TCanvas& canvas, const std::vector<QString>& lines)
    {
        std::vector<TTextExtent> extents;
        extents.reserve(lines.size());
        for (const QString& line : lines) {
            const QSize size = canvas.TextExtent(line);
            extents.push_back({ size.width(), size.height() });
        }
        return extents;
    }

} // namespace

void RenderTextOverlay(TDIB& target, const TTextOverlaySettings& settings)
{
    if (!settings.HasText() || target.Empty())
        return;
    if (target.BitCount() != 24)
        throw EInvalidGraphicOperation("像素格式无效");
    const std::int32_t width = target.Width();
    const std::int32_t height = target.Height();
    std::vector<QString> lines;
    for (const std::string& line : settings.Lines)
        lines.push_back(QString::fromStdString(line));

    TCanvasFont font;
    font.Name = QString::fromStdString(settings.FontName);
    font.Height = TextCellHeight(settings.Size, width);
    font.Color = ToQColor(settings.Color);
    font.Antialiased = true;

    TDIBCanvas canvas(target);
    canvas.SetFont(font);
    const TTextBlock block = PlaceTextBlock(
        width, height, settings.Angle, settings.AlignH, settings.AlignV, Measure(canvas, lines));

    font.Escapement = settings.Angle * 10;
    canvas.SetFont(font);
    const std::vector<TTextOrigin> origins
        = PlaceTextLines(block, settings.Angle, settings.AlignH, Measure(canvas, lines));

    if (settings.Shadow > 0) {
        const std::int32_t d = TextShadowDepth(settings.Shadow, width);
        TDIB shadow;
        shadow.SetSize(width, height, 24);
        {
            TDIBCanvas shadowCanvas(shadow);
            shadowCanvas.SetBrushColor(Qt::black);
            shadowCanvas.FillRect(0, 0, width, height);
            TCanvasFont white = font;
            white.Color = Qt::white;
            shadowCanvas.SetFont(white);
            for (std::size_t i = 0; i < lines.size(); ++i)
                shadowCanvas.TextOut(origins[i].X + d, origins[i].Y + d, lines[i]);
        }
        shadow.Blur(24, d);
        // White shadow turns the picture black, grey darkens it in proportion.
        const std::size_t rowBytes = std::size_t(width) * 3;
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* out = target.ScanLine(y);
            const std::uint8_t* dark = shadow.ConstScanLine(y);
            for (std::size_t b = 0; b < rowBytes; ++b)
                out[b] = static_cast<std::uint8_t>(std::max(0, int(out[b]) - int(dark[b])));
        }
    }

    for (std::size_t i = 0; i < lines.size(); ++i)
        canvas.TextOut(origins[i].X, origins[i].Y, lines[i]);
}

QStringList InstalledFontFamilies()
{
    return DistinctFontFamilies(QFontDatabase::families());
}

QString FontFamilyOf(const QString& name)
{
    const qsizetype open = name.lastIndexOf(QStringLiteral(" ["));
    if (open <= 0 || !name.endsWith(QLatin1Char(']')))
        return name;
    return name.left(open);
}

QStringList DistinctFontFamilies(const QStringList& names)
{
    QStringList families;
    for (const QString& name : names) {
        const QString family = FontFamilyOf(name);
        if (!families.contains(family))
            families << family;
    }
    return families;
}

QString InitialTextFont(const QStringList& families)
{
    const QString preferred = QString::fromLatin1(kDefaultTextFont);
    if (families.contains(preferred))
        return preferred;
    return families.isEmpty() ? QString() : families.front();
}

} // namespace zx
