#pragma once

// The text options of the rendering commands (frames, export, convert): the
// text dialog's settings on the command line. The text is drawn with Qt on its
// offscreen platform, so no display is needed; a run without text starts no Qt
// at all.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XTextOverlay.h"

#include <cstddef>
#include <span>
#include <string>

namespace zx::cli {

// When args[index] is a text option, applies it and returns how many arguments
// it took; 0 otherwise. Throws EUsageError for a missing or bad value.
std::size_t ParseTextOption(
    std::span<const std::string> args, std::size_t index, TTextOverlaySettings& text);

std::string TextOptionsHelp();

// Draws the text onto the texture when there is any. An empty font name means
// the dialog's first choice; a font that is not installed is a usage error.
void ApplyTextOverlay(TDIB& texture, const TTextOverlaySettings& text);

} // namespace zx::cli
