#pragma once

// The boundary between zephyrix-cli and its Qt module, zephyrix-cli-qt.so. Two
// things the CLI does need Qt: drawing text (fonts) and reading the desktop
// program's settings store. Loading Qt costs every run several milliseconds, so
// the CLI links none of it and opens the module only for --text or --settings.
// Only plain data crosses: C strings, numbers, 24-bit rows and the plain
// FlagParameters record, so the two sides share no objects and no globals.

#include "core/flag/FlagParameters.h"

#include <cstddef>
#include <cstdint>

extern "C" {

struct ZxTextRequest {
    const char* const* Lines;
    int LineCount;
    // Empty: the text dialog's initial font.
    const char* FontName;
    // A font that is not installed is an error (it was asked for on the
    // command line); otherwise it falls back on the initial font, as the text
    // dialog does with a saved font that is gone.
    int FontRequired;
    int Size;
    std::uint32_t Color; // 0x00BBGGRR
    int Angle;
    int Shadow;
    int AlignH;
    int AlignV;
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
    zx::FlagParameters* Params;
    // The export's quality level: 1 high, 0 standard.
    int HighQuality;
    char FontName[256];
    int Size;
    std::uint32_t Color;
    int Angle;
    int Shadow;
    int AlignH;
    int AlignV;
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
