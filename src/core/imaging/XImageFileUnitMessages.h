#pragma once

// The picture loader's own messages for the roads beyond BMP, JPEG and GIF.
// Each names the format, then the decoder's reason as the decoder states it.

#include "core/Translatable.h"

namespace zx::ImageFileMessages {
inline constexpr const char* sInvalidPNG = ZX_TR_NOOP("Messages", "PNG 文件无效: %s");
inline constexpr const char* sInvalidWebP = ZX_TR_NOOP("Messages", "WebP 文件无效: %s");
inline constexpr const char* sInvalidSVG = ZX_TR_NOOP("Messages", "SVG 文件无效: %s");
} // namespace zx::ImageFileMessages
