#include "ui/controls/XColorBoxUnit.h"

#include "core/IntMath.h"
#include "core/imaging/XDIBDraw.h"
#include "ui/controls/XColorDepthUnit.h"
#include "ui/controls/XIntegerEditComp.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QButtonGroup>
#include <QCursor>
#include <QFrame>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <tuple>
#include <utility>

namespace zx {

namespace {

    constexpr std::int32_t kPlaneSize = 256;
    constexpr std::int32_t kStripWidth = 24;
    constexpr std::int32_t kMarkerSize = 16;
    // A screen of fewer than 15 bits could only dither a smooth field: there
    // the plane is drawn in blocks of this size, aligned to its multiples, and
    // the strip in bands of 8 rows.
    constexpr std::int32_t kPlaneBlock = 16;
    constexpr std::int32_t kStripBand = 8;

    // Components are numbered like the modes: 0..2 hue, saturation,
    // brightness (16 bits), 3..5 red, green, blue (bytes). The strip always
    // runs along the selected component; the plane along these two.
    struct TPlaneAxes {
        std::int32_t X;
        std::int32_t Y;
    };
    constexpr std::array<TPlaneAxes, 6> kPlaneAxes { {
        { cmSaturation, cmBrightness },
        { cmHue, cmBrightness },
        { cmHue, cmSaturation },
        { cmGreen, cmBlue },
        { cmRed, cmBlue },
        { cmRed, cmGreen },
    } };

    bool IsHSB(std::int32_t component)
    {
        return component < cmRed;
    }

    std::uint16_t& HSBField(THSBValues& hsb, std::int32_t component)
    {
        switch (component) {
        case cmHue:
            return hsb.Hue;
        case cmSaturation:
            return hsb.Saturation;
        default:
            return hsb.Brightness;
        }
    }

    std::uint16_t HSBValue(THSBValues hsb, std::int32_t component)
    {
        return HSBField(hsb, component);
    }

    TColor WithByte(TColor color, std::int32_t component, std::int32_t value)
    {
        const int shift = 8 * (component - cmRed);
        return (color & ~(TColor(0xFF) << shift)) | (TColor(value & 0xFF) << shift);
    }

    std::int32_t ByteOf(TColor color, std::int32_t component)
    {
        return std::int32_t((color >> (8 * (component - cmRed))) & 0xFF);
    }

    // A 32-bit pixel as the picture stores it: blue, green, red, 0.
    void StorePixel(std::uint8_t* p, TColor color)
    {
        p[0] = BlueOf(color);
        p[1] = GreenOf(color);
        p[2] = RedOf(color);
        p[3] = 0;
    }

    QColor ToQColor(TColor color)
    {
        return QColor(RedOf(color), GreenOf(color), BlueOf(color));
    }

    QCursor RingCursor(const char* resource)
    {
        const QPixmap picture(QString::fromLatin1(resource));
        if (picture.isNull())
            return QCursor(Qt::CrossCursor);
        return QCursor(picture, picture.width() / 2, picture.height() / 2);
    }

    TDIB NewPicture(std::int32_t width, std::int32_t height)
    {
        TDIB picture;
        picture.SetSize(width, height, 32);
        return picture;
    }

} // namespace

// ---------------------------------------------------------------------------
// TColorPaintBox

TColorPaintBox::TColorPaintBox(QWidget* parent, std::int32_t width, std::int32_t height)
    : QWidget(parent)
    , m_screen(width, height, QImage::Format_RGB32)
{
    setFixedSize(width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_screen.fill(palette().color(QPalette::Button));
}

void TColorPaintBox::CopyFrom(const TDIB& picture, const QRect& rect)
{
    if (picture.Empty() || picture.BitCount() != 32)
        return;
    const QRect part = rect & m_screen.rect() & QRect(0, 0, picture.Width(), picture.Height());
    if (part.isEmpty())
        return;
    for (std::int32_t y = part.top(); y <= part.bottom(); ++y) {
        const std::uint8_t* in = picture.ConstScanLine(y) + 4 * part.left();
        auto* out = reinterpret_cast<QRgb*>(m_screen.scanLine(y)) + part.left();
        for (std::int32_t x = 0; x < part.width(); ++x, in += 4)
            out[x] = qRgb(in[2], in[1], in[0]);
    }
    update(part);
}

void TColorPaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), m_screen, event->rect());
}

void TColorPaintBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit OnMouseDown(this, event->position().toPoint());
    else
        QWidget::mousePressEvent(event);
}

void TColorPaintBox::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        emit OnMouseMove(this, event->position().toPoint());
    else
        QWidget::mouseMoveEvent(event);
}

// ---------------------------------------------------------------------------
// TColorBoxForm

TColorBoxForm::TColorBoxForm(QWidget* parent)
    : QDialog(parent)
    , m_updateRect(0, 0, kPlaneSize, kPlaneSize)
    , m_plane(NewPicture(kPlaneSize, kPlaneSize))
    , m_strip(NewPicture(kStripWidth, kPlaneSize))
{
    SetGamma(1.5, 1.5, 1.5);

    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(465, 273);
    // A fixed dialog border: a title and a close button, nothing to resize,
    // minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    const QImage marker(QStringLiteral(":/resources/CIRCLE01.png"));
    m_markerBitmap = QImageToDIB(marker);
    if (!m_markerBitmap.Empty())
        m_markerKey = m_markerBitmap.Pixel(0, 0);
    const QCursor ring = RingCursor(":/resources/CURSOR01.png");

    auto* bevel = new QFrame(this);
    bevel->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    bevel->setGeometry(6, 6, kPlaneSize + 4, kPlaneSize + 4);
    BigPaintBox = new TColorPaintBox(this, kPlaneSize, kPlaneSize);
    BigPaintBox->move(8, 8);
    BigPaintBox->setCursor(ring);
    SmallPaintBox = new TColorPaintBox(this, kStripWidth, kPlaneSize);
    SmallPaintBox->move(272, 8);
    SmallPaintBox->setCursor(ring);
    DisplayPaintBox = new TColorPaintBox(this, 152, 48);
    DisplayPaintBox->move(304, 8);

    ValuesGroupBox = new QGroupBox(this);
    ValuesGroupBox->setGeometry(304, 64, 153, 97);
    m_modeButtons = new QButtonGroup(this);
    const auto addMode = [&](TColorBoxMode mode, const char* caption, std::int32_t x,
                             std::int32_t y, std::int32_t maxValue) {
        auto* button = new QRadioButton(QString::fromLatin1(caption), ValuesGroupBox);
        button->setGeometry(x, y, 32, 20);
        m_modeButtons->addButton(button, mode);
        auto* edit = new TIntegerEdit(ValuesGroupBox);
        edit->setGeometry(x + 32, y, 33, 20);
        edit->setMaxLength(3);
        edit->SetMaxValue(maxValue);
        m_edits[mode] = edit;
        return std::pair { button, edit };
    };
    std::tie(HueRadioButton, HueEdit) = addMode(cmHue, "H:", 8, 18, 359);
    std::tie(SatRadioButton, SatEdit) = addMode(cmSaturation, "S:", 8, 42, 100);
    std::tie(BriRadioButton, BriEdit) = addMode(cmBrightness, "B:", 8, 66, 100);
    std::tie(RedRadioButton, RedEdit) = addMode(cmRed, "R:", 80, 18, 255);
    std::tie(GreenRadioButton, GreenEdit) = addMode(cmGreen, "G:", 80, 42, 255);
    std::tie(BlueRadioButton, BlueEdit) = addMode(cmBlue, "B:", 80, 66, 255);

    OKButton = new QPushButton(tr("确定"), this);
    OKButton->setGeometry(304, 240, 73, 25);
    OKButton->setDefault(true);
    CancelButton = new QPushButton(tr("取消"), this);
    CancelButton->setGeometry(384, 240, 73, 25);

    connect(m_modeButtons, &QButtonGroup::idClicked, this,
        [this](int id) { SelectMode(static_cast<TColorBoxMode>(id)); });
    for (TIntegerEdit* edit : m_edits)
        connect(edit, &TIntegerEdit::OnExit, this, &TColorBoxForm::EditExit);
    connect(BigPaintBox, &TColorPaintBox::OnMouseDown, this,
        [this](TColorPaintBox*, QPoint at) { PickPlane(at.x(), at.y()); });
    connect(BigPaintBox, &TColorPaintBox::OnMouseMove, this,
        [this](TColorPaintBox*, QPoint at) { PickPlane(at.x(), at.y()); });
    connect(SmallPaintBox, &TColorPaintBox::OnMouseDown, this,
        [this](TColorPaintBox*, QPoint at) { PickStrip(at.y()); });
    connect(SmallPaintBox, &TColorPaintBox::OnMouseMove, this,
        [this](TColorPaintBox*, QPoint at) { PickStrip(at.y()); });
    connect(OKButton, &QPushButton::clicked, this, &TColorBoxForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TColorBoxForm::reject);

    m_initialColor = m_currentColor = RGBToColor(255, 0, 0);
    m_hsbValues = ColorToHSB(m_currentColor);
    DrawDisplay(true);
    SelectMode(cmHue);
    FillHSBEdits();
    FillRGBEdits();
}

TColorBoxForm::~TColorBoxForm() = default;

QString TColorBoxForm::ModeName(TColorBoxMode mode)
{
    switch (mode) {
    case cmHue:
        return tr("色调");
    case cmSaturation:
        return tr("饱和度");
    case cmBrightness:
        return tr("亮度");
    case cmRed:
        return tr("红色");
    case cmGreen:
        return tr("绿色");
    case cmBlue:
        return tr("蓝色");
    }
    return {};
}

void TColorBoxForm::SetColor(TColor color)
{
    color &= 0xFFFFFF;
    if (color == m_currentColor)
        return;
    m_initialColor = m_currentColor = color;
    m_hsbValues = ColorToHSB(color);
    FillHSBEdits();
    FillRGBEdits();
    UpdateMarkers();
    DrawPlane();
    DrawStrip();
    DrawDisplay(true);
}

void TColorBoxForm::SelectMode(TColorBoxMode mode)
{
    if (mode < cmHue || mode > cmBlue)
        return;
    m_mode = mode;
    if (QAbstractButton* button = m_modeButtons->button(mode))
        button->setChecked(true);
    ValuesGroupBox->setTitle(tr("函数值 (%1)").arg(ModeName(mode)));
    UpdateMarkers();
    DrawPlane();
    DrawStrip();
}

std::int32_t TColorBoxForm::Component(std::int32_t index) const
{
    if (IsHSB(index))
        return HSBValue(m_hsbValues, index);
    return ByteOf(m_currentColor, index);
}

void TColorBoxForm::SetComponent(std::int32_t index, std::int32_t value)
{
    if (IsHSB(index))
        HSBField(m_hsbValues, index) = static_cast<std::uint16_t>(value);
    else
        m_currentColor = WithByte(m_currentColor, index, value);
}

void TColorBoxForm::UpdateMarkers()
{
    // Marker places count in bytes; larger values lie right and up.
    const auto scaled = [this](std::int32_t index) {
        const std::int32_t value = Component(index);
        return IsHSB(index) ? value / 256 : value;
    };
    const TPlaneAxes axes = kPlaneAxes[m_mode];
    m_planeX = scaled(axes.X);
    m_planeY = 255 - scaled(axes.Y);
    m_stripY = 255 - scaled(m_mode);
}

void TColorBoxForm::FillHSBEdits()
{
    // A hue above 65280 shows as 360, which the edit clamps to 359.
    HueEdit->SetValue(std::int32_t(RoundHalfEven(m_hsbValues.Hue * 359.0 / kHSBFull)));
    SatEdit->SetValue(std::int32_t(RoundHalfEven(m_hsbValues.Saturation * 100.0 / kHSBFull)));
    BriEdit->SetValue(std::int32_t(RoundHalfEven(m_hsbValues.Brightness * 100.0 / kHSBFull)));
}

void TColorBoxForm::FillRGBEdits()
{
    RedEdit->SetValue(RedOf(m_currentColor));
    GreenEdit->SetValue(GreenOf(m_currentColor));
    BlueEdit->SetValue(BlueOf(m_currentColor));
}

void TColorBoxForm::PickPlane(std::int32_t x, std::int32_t y)
{
    x = std::clamp(x, 0, kPlaneSize - 1);
    y = std::clamp(y, 0, kPlaneSize - 1);
    const QPoint old(m_planeX, m_planeY);
    m_planeX = x;
    m_planeY = y;
    const TPlaneAxes axes = kPlaneAxes[m_mode];
    if (IsHSB(m_mode)) {
        SetComponent(axes.X, x * 256);
        SetComponent(axes.Y, (255 - y) * 256);
        m_currentColor = HSBToColor(m_hsbValues);
    } else {
        SetComponent(axes.X, x);
        SetComponent(axes.Y, 255 - y);
        m_hsbValues = ColorToHSB(m_currentColor);
    }
    DrawStrip();
    // Only the marker moved over the plane: recompute the square it left and
    // the square it entered, not the 65536 pixels of the whole plane.
    const std::int32_t half = kMarkerSize / 2;
    m_updateRect = QRect(old.x() - half, old.y() - half, kMarkerSize, kMarkerSize);
    DrawPlane();
    m_updateRect = QRect(x - half, y - half, kMarkerSize, kMarkerSize);
    DrawPlane();
    m_updateRect = QRect(0, 0, kPlaneSize, kPlaneSize);
    DrawDisplay(false);
    FillHSBEdits();
    FillRGBEdits();
}

void TColorBoxForm::PickStrip(std::int32_t y)
{
    y = std::clamp(y, 0, kPlaneSize - 1);
    m_stripY = y;
    if (IsHSB(m_mode)) {
        SetComponent(m_mode, (255 - y) * 256);
        m_currentColor = HSBToColor(m_hsbValues);
    } else {
        SetComponent(m_mode, 255 - y);
        m_hsbValues = ColorToHSB(m_currentColor);
    }
    DrawPlane();
    DrawStrip();
    DrawDisplay(false);
    FillHSBEdits();
    FillRGBEdits();
}

void TColorBoxForm::EditExit(TIntegerEdit* sender)
{
    if (!sender->isModified())
        return;
    sender->setModified(false);
    const auto index = std::find(m_edits.begin(), m_edits.end(), sender) - m_edits.begin();
    if (IsHSB(std::int32_t(index))) {
        m_hsbValues.Hue = std::uint16_t(RoundHalfEven(HueEdit->Value() * 65535.0 / 360));
        m_hsbValues.Saturation = std::uint16_t(RoundHalfEven(SatEdit->Value() * 65280.0 / 100));
        m_hsbValues.Brightness = std::uint16_t(RoundHalfEven(BriEdit->Value() * 65280.0 / 100));
        m_currentColor = HSBToColor(m_hsbValues);
        FillRGBEdits();
    } else {
        m_currentColor = RGBToColor(std::uint8_t(RedEdit->Value()),
            std::uint8_t(GreenEdit->Value()), std::uint8_t(BlueEdit->Value()));
        m_hsbValues = ColorToHSB(m_currentColor);
        FillHSBEdits();
    }
    UpdateMarkers();
    DrawPlane();
    DrawStrip();
    DrawDisplay(false);
}

void TColorBoxForm::OKButtonClick()
{
    // Enter clicks this button without moving the focus out of an edit, so a
    // number just typed would otherwise be lost.
    if (auto* edit = qobject_cast<TIntegerEdit*>(focusWidget()))
        EditExit(edit);
    accept();
}

void TColorBoxForm::reject()
{
    m_currentColor = m_initialColor;
    QDialog::reject();
}

TColor TColorBoxForm::PlaneColor(std::int32_t x, std::int32_t y) const
{
    const TPlaneAxes axes = kPlaneAxes[m_mode];
    if (IsHSB(m_mode)) {
        THSBValues hsb = m_hsbValues;
        HSBField(hsb, axes.X) = static_cast<std::uint16_t>(256 * x);
        HSBField(hsb, axes.Y) = static_cast<std::uint16_t>(256 * (255 - y));
        return HSBToColor(hsb);
    }
    return WithByte(WithByte(m_currentColor, axes.X, x), axes.Y, 255 - y);
}

TColor TColorBoxForm::StripColor(std::int32_t row) const
{
    switch (m_mode) {
    case cmHue:
        // Red at the top, then magenta, blue, cyan, green, yellow, red.
        return HueToColor(static_cast<std::uint16_t>((65536 - 256 * row) & 0xFFFF));
    case cmSaturation:
    case cmBrightness: {
        THSBValues hsb = m_hsbValues;
        HSBField(hsb, m_mode) = static_cast<std::uint16_t>(256 * (255 - row));
        return HSBToColor(hsb);
    }
    default:
        return WithByte(m_currentColor, m_mode, 255 - row);
    }
}

void TColorBoxForm::DrawPlane()
{
    const QRect rect = m_updateRect & QRect(0, 0, kPlaneSize, kPlaneSize);
    if (!rect.isEmpty()) {
        if (ScreenColorDepth() >= kSmoothColorDepth) {
            for (std::int32_t y = rect.top(); y <= rect.bottom(); ++y) {
                std::uint8_t* p = m_plane.ScanLine(y) + 4 * rect.left();
                for (std::int32_t x = rect.left(); x <= rect.right(); ++x, p += 4)
                    StorePixel(p, GammaColor(PlaneColor(x, y)));
            }
        } else {
            const std::int32_t firstX = rect.left() / kPlaneBlock * kPlaneBlock;
            const std::int32_t firstY = rect.top() / kPlaneBlock * kPlaneBlock;
            for (std::int32_t by = firstY; by <= rect.bottom(); by += kPlaneBlock) {
                for (std::int32_t bx = firstX; bx <= rect.right(); bx += kPlaneBlock) {
                    const QRect block = QRect(bx, by, kPlaneBlock, kPlaneBlock).intersected(rect);
                    FillRect(m_plane, block.left(), block.top(), block.right() + 1,
                        block.bottom() + 1, GammaColor(PlaneColor(bx, by)));
                }
            }
        }
    }
    DrawMarker(m_plane, m_planeX - kMarkerSize / 2, m_planeY - kMarkerSize / 2);
    BigPaintBox->CopyFrom(m_plane, rect);
}

void TColorBoxForm::DrawStrip()
{
    const bool smooth = ScreenColorDepth() >= kSmoothColorDepth;
    TColor color = 0;
    for (std::int32_t row = 0; row < kPlaneSize; ++row) {
        if (smooth || row % kStripBand == 0)
            color = GammaColor(StripColor(row));
        std::uint8_t* p = m_strip.ScanLine(row);
        for (std::int32_t x = 0; x < kStripWidth; ++x, p += 4)
            StorePixel(p, color);
    }
    DrawMarker(m_strip, (kStripWidth - kMarkerSize) / 2, m_stripY - kMarkerSize / 2);
    SmallPaintBox->CopyFrom(m_strip, QRect(0, 0, kStripWidth, kPlaneSize));
}

void TColorBoxForm::DrawDisplay(bool whole)
{
    QImage& screen = DisplayPaintBox->Screen();
    {
        TCanvas canvas(screen);
        const std::int32_t half = screen.height() / 2;
        if (whole) {
            canvas.SetBrushColor(ToQColor(m_initialColor));
            canvas.FillRect(0, 0, screen.width(), half);
        }
        canvas.SetBrushColor(ToQColor(m_currentColor));
        canvas.FillRect(0, half, screen.width(), screen.height());
    }
    DisplayPaintBox->update();
}

void TColorBoxForm::DrawMarker(TDIB& target, std::int32_t left, std::int32_t top) const
{
    // The marker's key colour leaves the picture as it is.
    const std::int32_t width = m_markerBitmap.Width();
    const std::int32_t height = m_markerBitmap.Height();
    if (m_markerBitmap.Empty())
        return;
    for (std::int32_t my = 0; my < height; ++my) {
        const std::int32_t ty = top + my;
        if (ty < 0 || ty >= target.Height())
            continue;
        std::uint8_t* row = target.ScanLine(ty);
        for (std::int32_t mx = 0; mx < width; ++mx) {
            const std::int32_t tx = left + mx;
            if (tx < 0 || tx >= target.Width())
                continue;
            const TColor color = m_markerBitmap.Pixel(mx, my);
            if (color != m_markerKey)
                StorePixel(row + 4 * tx, color);
        }
    }
}

} // namespace zx
