#pragma once

// The text of the rendering commands (frames, export, convert), drawn as the
// text dialog draws it. The text is drawn with Qt on its offscreen platform, so
// no display is needed; a run without text starts no Qt at all.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XTextOverlay.h"

namespace zx::cli {

// Draws the text onto the texture when there is any. The default face, Arial,
// stands for the text dialog's first choice: Arial when it is installed,
// otherwise the first installed family. With fontRequired (--font was given) a
// font that is not installed is an error.
void ApplyTextOverlay(TDIB& texture, const TTextOverlaySettings& text, bool fontRequired);

} // namespace zx::cli
