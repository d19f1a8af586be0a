#pragma once

// TFilmDisplay: the frames of an animation side by side on a strip drawn like a
// piece of cine film, with sprocket holes above and below every frame and the
// selected frame marked by a red band. The user selects a frame with the mouse
// or the arrow keys; the owner hears of it through OnChange.
//
// Every item is a cell of 2B + W + 2 pixels: the film (2B + W wide, 4B + H
// high) and a white gap of 2 pixels. The frame window of item i is W x H at
// (i (2B + W + 2) + B, 2B). The strip does not own its pictures; they must
// stay valid until ClearItems.

#include "core/imaging/XDIBUnit.h"

#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace zx {

class TFilmDisplay : public QWidget {
    Q_OBJECT

public:
    static constexpr std::int32_t kMinBorder = 3;
    static constexpr std::int32_t kMaxBorder = 20;
    static constexpr std::int32_t kDefaultBorder = 4;
    // The white gap between two cells.
    static constexpr std::int32_t kGap = 2;

    explicit TFilmDisplay(QWidget* parent = nullptr);

    // The size of every item's frame window. Setting either resizes the
    // control: (W + 2B + 2) x count wide, 4B + H high.
    std::int32_t ImageWidth() const { return m_imageWidth; }
    void SetImageWidth(std::int32_t value);
    std::int32_t ImageHeight() const { return m_imageHeight; }
    void SetImageHeight(std::int32_t value);
    // The film margin B, kept within kMinBorder..kMaxBorder.
    std::int32_t Border() const { return m_border; }
    void SetBorder(std::int32_t value);
    // The selected item, -1 for none. The setter clamps to 0..Count() - 1
    // (-1 while there are no items) and never fires OnChange.
    std::int32_t ItemIndex() const { return m_itemIndex; }
    void SetItemIndex(std::int32_t value);

    std::int32_t Count() const { return static_cast<std::int32_t>(m_items.size()); }
    const TDIB* Item(std::int32_t index) const { return m_items[std::size_t(index)]; }
    // Appends a picture (not owned). The first picture of an empty strip whose
    // image size is 0 x 0 gives the image size.
    void AddItem(const TDIB* picture);
    // Forgets every picture, sets the image size to 0 x 0 and the selection
    // to -1; the control keeps its size.
    void ClearItems();
    // The cell of item i, white gap included, over the whole height.
    QRect ItemRect(std::int32_t index) const;
    // The width of one cell, gap included.
    std::int32_t ItemPitch() const { return 2 * m_border + m_imageWidth + kGap; }
    // The item under control column x, clamped to the items (-1 without items).
    std::int32_t ItemAt(std::int32_t x) const;

signals:
    // The user selected an item (or pressed an arrow key at an end).
    void OnChange(zx::TFilmDisplay* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void UpdateSize();
    void UserSelect(std::int32_t index);
    // The picture of item i as the screen shows it, converted once.
    const QImage& ItemImage(std::int32_t index);

    std::vector<const TDIB*> m_items;
    std::vector<QImage> m_images;
    std::int32_t m_imageWidth = 0;
    std::int32_t m_imageHeight = 0;
    std::int32_t m_border = kDefaultBorder;
    std::int32_t m_itemIndex = -1;
};

} // namespace zx
