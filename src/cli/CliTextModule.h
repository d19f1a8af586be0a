#pragma once

// The boundary between zephyrix-cli and its text module, zephyrix-cli-text.so.
// Drawing text needs Qt; loading Qt costs every run several milliseconds, so the
// CLI links none of it and loads the module only when there is text to draw.
// Only plain data crosses: the settings as C strings and numbers, the picture as
// 24-bit rows, so the two sides share no objects and no globals.

#include <cstddef>
#include <cstdint>

extern "C" {

struct ZxTextRequest {
    const char* const* Lines;
    int LineCount;
    // Empty: the text dialog's initial font.
    const char* FontName;
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

enum ZxTextResult : int { kZxTextDrawn = 0, kZxTextUnknownFont = 1, kZxTextFailed = 2 };

// The module's one entry point.
typedef int (*ZxTextDrawFunction)(ZxTextRequest* request);
#define ZX_TEXT_DRAW_SYMBOL "zx_text_draw"
#define ZX_TEXT_MODULE_NAME "zephyrix-cli-text.so"
}
