#pragma once

// TDIBImage: a small control that shows a TDIB it owns, unscaled at its top-left
// corner. Owners draw into DIB() (through a TDIBCanvas or its rows) and call
// update() or repaint(); assigning a picture with SetDIB repaints at once.

#include "core/imaging/XDIBUnit.h"

#include <QWidget>

namespace zx {

class TDIBImage : public QWidget {
    Q_OBJECT

public:
    explicit TDIBImage(QWidget* parent = nullptr);

    TDIB& DIB() { return m_dib; }
    const TDIB& DIB() const { return m_dib; }
    // Shares the picture's storage (the next write to either copies it).
    void SetDIB(const TDIB& picture);

signals:
    // After the picture is painted; the sender is the control.
    void OnPaint(zx::TDIBImage* sender);
    void OnClick(zx::TDIBImage* sender);
    void OnDblClick(zx::TDIBImage* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TDIB m_dib;
};

} // namespace zx
