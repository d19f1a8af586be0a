#pragma once

// Draws the text dialog's text onto a picture: a blurred black shadow offset
// below and to the right, then the text in its colour, turned by its angle and
// placed by its alignments (core/imaging/XTextOverlay.h). Works on Qt's
// offscreen platform, so the CLI draws the same text the desktop program does.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XTextOverlay.h"

#include <QString>
#include <QStringList>

namespace zx {

// Draws onto a 24-bit picture with at least one pixel; nothing at all when the
// settings have no text.
void RenderTextOverlay(TDIB& target, const TTextOverlaySettings& settings);

// The installed font families in the platform's order, each once, as people
// know it: where several foundries provide a family, Qt names it once for each
// ("C059 [urw]", "C059 [UKWN]"); the list has "C059".
QStringList InstalledFontFamilies();
// The family of a font name, without the foundry Qt may have added to it
// ("C059 [urw]" is "C059"); other names as they are.
QString FontFamilyOf(const QString& name);
// The families of Qt's font names, each once, in the order of their first name.
QStringList DistinctFontFamilies(const QStringList& names);

// The font the text dialog starts with: the default face when it is installed,
// otherwise the first installed family (empty when there is none).
QString InitialTextFont(const QStringList& families);

} // namespace zx
