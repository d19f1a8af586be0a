#pragma once

// TShowForm: the flag window, a small sizeable tool window beside the control
// panel. Its paint area is the frame: it shows the frame it was last given,
// with the pin or without, and a blank while it has none. It reports what the
// user does as signals: a mouse press in the paint area (the pin point), a new
// size (between 16 x 16 and 320 x 200 for the paint area), a move, and a picture
// dragged over it or dropped on it. Painting never changes anything: a repaint
// by the window system shows the same picture again. The user cannot close it;
// it is shown and hidden with the panel.

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QWidget>
#include <optional>

class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QStatusBar;

namespace zx {

// Set while a flag window exists.
extern bool FlagWindowExists;

// The flag window's paint area.
class TFlagPaintBox : public QWidget {
    Q_OBJECT

public:
    explicit TFlagPaintBox(QWidget* parent);

    // The frame to show (a null image: the blank) and where the pin's top-left
    // corner goes, if it shows.
    void SetPicture(const QImage& frame, std::optional<QPoint> pin);

signals:
    void MouseDown(QPoint at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage m_frame;
    std::optional<QPoint> m_pin;
};

class TShowForm : public QWidget {
    Q_OBJECT

public:
    // The panel owns the window (it is a tool window of the panel's).
    explicit TShowForm(QWidget* panel);
    ~TShowForm() override;

    TFlagPaintBox* FlagPaintBox() const { return m_paintBox; }
    QStatusBar* FlagStatusBar() const { return m_statusBar; }
    QString StatusText() const;
    void SetStatusText(const QString& text);

    // Paints the frame (or the blank) now, with the pin at its top-left corner
    // if it shows.
    void ShowFrame(const QImage& frame, std::optional<QPoint> pin);

    // The paint area's size, which is the frame size.
    QSize PaintAreaSize() const;
    // Resizes the window so that its paint area gets this size (within the
    // limits).
    void SetPaintAreaSize(const QSize& size);
    // Lets the window close (at the end of the program).
    void AllowClose() { m_allowClose = true; }

    // The paint area's limits.
    static constexpr QSize kMinPaintArea { 16, 16 };
    static constexpr QSize kMaxPaintArea { 320, 200 };
    static constexpr int kStatusBarHeight = 19;

signals:
    // A mouse button pressed at this point of the paint area.
    void PaintAreaMouseDown(QPoint at);
    void Resized();
    void Moved();
    void PictureDragEnter(QDragEnterEvent* event);
    void PictureDrop(QDropEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The platform's size limits: the window may change only as far as the
    // paint area stays within kMinPaintArea..kMaxPaintArea.
    void UpdateSizeLimits();

    TFlagPaintBox* m_paintBox;
    QStatusBar* m_statusBar;
    QLabel* m_statusLabel;
    bool m_allowClose = false;
};

} // namespace zx
