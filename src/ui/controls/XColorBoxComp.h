#pragma once

// TColorBox: runs the colour dialog (XColorBoxUnit.h) for one choice. The
// dialog is made for the run, centred on the screen, titled with Caption and
// opened on Color; it is gone again when Execute returns.

#include "core/controls/XColorUnit.h"

#include <QString>

class QWidget;

namespace zx {

class TColorBox {
public:
    const QString& Caption() const { return m_caption; }
    void SetCaption(const QString& value) { m_caption = value; }
    TColor Color() const { return m_color; }
    void SetColor(TColor value) { m_color = value; }

    // Shows the dialog modally; true when the user confirmed, and then Color
    // is the colour chosen. On cancel Color stays as it was.
    bool Execute(QWidget* parent = nullptr);

private:
    QString m_caption = QStringLiteral("Color selection");
    TColor m_color = 0;
};

} // namespace zx
