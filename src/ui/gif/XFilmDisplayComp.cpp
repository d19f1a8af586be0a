#include "ui/gif/XFilmDisplayComp.h"

#include "ui/imaging/XDIBCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace zx {

namespace {

    // The sprocket holes: 8 pixels of hole, 8 of film, as many as fit.
    constexpr std::int32_t kHoleWidth = 8;
    constexpr std::int32_t kHolePitch = 16;

    // Fills [left, right) x [top, bottom), the way every part of the film is
    // described.
    void Fill(QPainter& painter, std::int32_t left, std::int32_t top, std::int32_t right,
        std::int32_t bottom, const QColor& color)
    {
        if (right > left && bottom > top)
            painter.fillRect(QRect(left, top, right - left, bottom - top), color);
    }

    // A black one-pixel outline just inside [left, right) x [top, bottom).
    void Outline(QPainter& painter, std::int32_t left, std::int32_t top, std::int32_t right,
        std::int32_t bottom)
    {
        Fill(painter, left, top, right, top + 1, Qt::black);
        Fill(painter, left, bottom - 1, right, bottom, Qt::black);
        Fill(painter, left, top, left + 1, bottom, Qt::black);
        Fill(painter, right - 1, top, right, bottom, Qt::black);
    }

    bool IsArrow(int key)
    {
        return key == Qt::Key_Left || key == Qt::Key_Right;
    }

} // namespace

TFilmDisplay::TFilmDisplay(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    UpdateSize();
}

void TFilmDisplay::UpdateSize()
{
    resize(ItemPitch() * Count(), 4 * m_border + m_imageHeight);
}

void TFilmDisplay::SetImageWidth(std::int32_t value)
{
    if (value == m_imageWidth)
        return;
    m_imageWidth = value;
    UpdateSize();
    update();
}

void TFilmDisplay::SetImageHeight(std::int32_t value)
{
    if (value == m_imageHeight)
        return;
    m_imageHeight = value;
    UpdateSize();
    update();
}

void TFilmDisplay::SetBorder(std::int32_t value)
{
    value = std::clamp(value, kMinBorder, kMaxBorder);
    if (value == m_border)
        return;
    m_border = value;
    UpdateSize();
    update();
}

void TFilmDisplay::SetItemIndex(std::int32_t value)
{
    // Without items nothing can be selected.
    value = std::min(std::max(value, 0), Count() - 1);
    if (value == m_itemIndex)
        return;
    m_itemIndex = value;
    repaint();
}

void TFilmDisplay::AddItem(const TDIB* picture)
{
    if (m_imageWidth == 0 && m_imageHeight == 0 && picture) {
        m_imageWidth = picture->Width();
        m_imageHeight = picture->Height();
    }
    m_items.push_back(picture);
    m_images.emplace_back();
    UpdateSize();
    update();
}

void TFilmDisplay::ClearItems()
{
    m_items.clear();
    m_images.clear();
    m_imageWidth = 0;
    m_imageHeight = 0;
    m_itemIndex = -1;
    update();
}

QRect TFilmDisplay::ItemRect(std::int32_t index) const
{
    return QRect(index * ItemPitch(), 0, ItemPitch(), 4 * m_border + m_imageHeight);
}

std::int32_t TFilmDisplay::ItemAt(std::int32_t x) const
{
    if (Count() == 0)
        return -1;
    return std::clamp(x / ItemPitch(), 0, Count() - 1);
}

const QImage& TFilmDisplay::ItemImage(std::int32_t index)
{
    QImage& image = m_images[std::size_t(index)];
    const TDIB* picture = m_items[std::size_t(index)];
    if (image.isNull() && picture && !picture->Empty())
        image = DIBToQImage(*picture);
    return image;
}

void TFilmDisplay::paintEvent(QPaintEvent* event)
{
    const QRect area = event->rect();
    if (area.isEmpty())
        return;
    // Only the exposed part is drawn off screen: a strip of 40 large frames
    // is over 13000 pixels wide, and the scroll box shows a few of them.
    QImage buffer(area.size(), QImage::Format_RGB32);
    buffer.fill(palette().color(QPalette::Window));
    {
        QPainter painter(&buffer);
        painter.translate(-area.topLeft());

        const std::int32_t b = m_border;
        const std::int32_t w = 2 * b + m_imageWidth;
        const std::int32_t h = m_imageHeight;
        const std::int32_t height = 4 * b + h;
        const std::int32_t pitch = ItemPitch();
        const std::int32_t holes = w / kHolePitch;
        const std::int32_t offset = ((w % kHolePitch) + 8) / 2;
        const std::int32_t first = std::max(0, area.left() / pitch);
        const std::int32_t last = std::min(Count() - 1, area.right() / pitch);

        for (std::int32_t i = first; i <= last; ++i) {
            const std::int32_t x0 = i * pitch;
            // The film's edges.
            Fill(painter, x0, 0, x0 + w, 1, Qt::black);
            Fill(painter, x0, height - 1, x0 + w, height, Qt::black);
            // The sprocket bands, with the holes centred in the cell.
            for (const auto& [top, bottom] :
                { std::pair { 1, b }, std::pair { h + 3 * b, h + 4 * b - 1 } }) {
                Fill(painter, x0, top, x0 + w, bottom, Qt::black);
                for (std::int32_t k = 0; k < holes; ++k) {
                    const std::int32_t hole = x0 + offset + kHolePitch * k;
                    Fill(painter, hole, top, hole + kHoleWidth, bottom, Qt::white);
                }
            }
            // The frame lines: around the picture area and around the window.
            Outline(painter, x0, b, x0 + w, h + 3 * b);
            Outline(painter, x0 + b - 1, 2 * b - 1, x0 + m_imageWidth + b + 1, h + 2 * b + 1);
            // The selection band between the two frame lines.
            const QColor band = i == m_itemIndex ? QColor(Qt::red) : QColor(Qt::black);
            Fill(painter, x0 + 1, b + 1, x0 + w - 1, 2 * b - 1, band);
            Fill(painter, x0 + 1, 2 * b - 1, x0 + b - 1, h + 2 * b + 1, band);
            Fill(painter, x0 + m_imageWidth + b + 1, 2 * b - 1, x0 + m_imageWidth + 2 * b - 1,
                h + 2 * b + 1, band);
            Fill(painter, x0 + 1, h + 2 * b + 1, x0 + w - 1, h + 3 * b - 1, band);
            // The frame window is film: black behind a smaller picture, and
            // black where a picture too large for it is left out.
            Fill(painter, x0 + b, 2 * b, x0 + b + m_imageWidth, 2 * b + h, Qt::black);
            const QImage& picture = ItemImage(i);
            if (!picture.isNull() && picture.width() <= m_imageWidth && picture.height() <= h)
                painter.drawImage(x0 + b + (m_imageWidth - picture.width()) / 2,
                    2 * b + (h - picture.height()) / 2, picture);
            Fill(painter, x0 + w, 0, x0 + w + kGap, height, Qt::white);
        }
    }
    QPainter(this).drawImage(area.topLeft(), buffer);
}

void TFilmDisplay::UserSelect(std::int32_t index)
{
    m_itemIndex = index;
    emit OnChange(this);
    repaint();
}

void TFilmDisplay::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton && Count() > 0)
        UserSelect(ItemAt(event->position().toPoint().x()));
    event->accept();
}

void TFilmDisplay::keyPressEvent(QKeyEvent* event)
{
    if (!IsArrow(event->key())) {
        QWidget::keyPressEvent(event);
        return;
    }
    // The arrows are the strip's own: a scroll box around it must not take
    // them for scrolling.
    event->accept();
    if (Count() == 0)
        return;
    if (event->key() == Qt::Key_Left)
        UserSelect(std::max(m_itemIndex - 1, 0));
    else
        UserSelect(std::min(m_itemIndex + 1, Count() - 1));
}

void TFilmDisplay::keyReleaseEvent(QKeyEvent* event)
{
    if (IsArrow(event->key()))
        event->accept();
    else
        QWidget::keyReleaseEvent(event);
}

void TFilmDisplay::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void TFilmDisplay::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

} // namespace zx
