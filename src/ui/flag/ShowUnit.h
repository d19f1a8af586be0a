#pragma once

// TShowForm: the flag window, a small sizeable tool window beside the control
// panel. Its paint area is the frame: the animation is painted there, a click
// sets the pin point, and resizing it changes the frame size (between 16 x 16
// and 320 x 200 pixels). The user cannot close it; it is shown and hidden with
// the panel.

#include <QSize>
#include <QString>
#include <QWidget>

class QLabel;
class QStatusBar;

namespace zx {

class TFlagForm;

// Set while a flag window exists.
extern bool FlagWindowExists;

// The flag window's paint area.
class TFlagPaintBox : public QWidget {
    Q_OBJECT

public:
    explicit TFlagPaintBox(QWidget* parent);
    void SetPanel(TFlagForm* panel) { m_panel = panel; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TFlagForm* m_panel = nullptr;
};

class TShowForm : public QWidget {
    Q_OBJECT

public:
    // The panel owns the window (it is a tool window of the panel's).
    explicit TShowForm(QWidget* panel);
    ~TShowForm() override;

    // Connects the window to the panel whose frames it shows.
    void SetPanel(TFlagForm* panel);

    TFlagPaintBox* FlagPaintBox() const { return m_paintBox; }
    QStatusBar* FlagStatusBar() const { return m_statusBar; }
    QString StatusText() const;
    void SetStatusText(const QString& text);

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

    TFlagForm* m_panel = nullptr;
    TFlagPaintBox* m_paintBox;
    QStatusBar* m_statusBar;
    QLabel* m_statusLabel;
    bool m_allowClose = false;
};

} // namespace zx
