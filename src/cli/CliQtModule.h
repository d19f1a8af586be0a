#pragma once

// The boundary between zephyrix-cli and its Qt module, zephyrix-cli-qt.so. Two
// things the CLI does need Qt: drawing text (fonts) and reading the desktop
// program's settings store. Loading Qt costs every run several milliseconds, so
// the CLI links none of it and opens the module only for --text or --settings.
// The two sides are built together from the same sources, so the requests carry
// the program's own value records (the settings, the text's settings) beside
// plain numbers and 24-bit rows; the two sides share no objects that live on
// and no globals.

#include "core/flag/FlagSettings.h"
#include "core/imaging/XTextOverlay.h"

#include <cstddef>
#include <cstdint>

extern "C" {

struct ZxTextRequest {
    // The text and its font, size, colour, angle, shadow and alignments. An
    // empty font name: the text dialog's initial font.
    const zx::TTextOverlaySettings* Text;
    // A font that is not installed is an error (it was asked for on the
    // command line); otherwise it falls back on the initial font, as the text
    // dialog does with a saved font that is gone.
    int FontRequired;
    // The picture: Height rows of Width pixels (blue, green, red), the top row
    // first, Stride bytes apart. Drawn on in place.
    std::uint8_t* Pixels;
    int Width;
    int Height;
    std::ptrdiff_t Stride;
    // Receives the message of a failure (UTF-8, NUL-terminated).
    char* Error;
    std::size_t ErrorSize;
};

// The saved settings, read over the values the request brings.
struct ZxSettingsRequest {
    zx::TSettings* Settings;
    char* Error;
    std::size_t ErrorSize;
};

enum ZxModuleResult : int { kZxDone = 0, kZxUnknownFont = 1, kZxFailed = 2 };

typedef int (*ZxTextDrawFunction)(ZxTextRequest* request);
typedef int (*ZxSettingsReadFunction)(ZxSettingsRequest* request);
#define ZX_TEXT_DRAW_SYMBOL "zx_text_draw"
#define ZX_SETTINGS_READ_SYMBOL "zx_settings_read"
#define ZX_QT_MODULE_NAME "zephyrix-cli-qt.so"
}

namespace zx::cli {

// The module's functions; the module is opened on the first call. Throws
// std::runtime_error when it cannot be opened.
ZxTextDrawFunction ModuleTextDraw();
ZxSettingsReadFunction ModuleSettingsRead();

} // namespace zx::cli
