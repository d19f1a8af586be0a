#pragma once

// The picture loader's own messages for the roads beyond BMP, JPEG and GIF.
// Each names the format, then the decoder's reason as the decoder states it.

namespace zx::ImageFileMessages {
inline constexpr const char* sInvalidPNG = "PNG 文件无效: %s";
inline constexpr const char* sInvalidWebP = "WebP 文件无效: %s";
inline constexpr const char* sInvalidSVG = "SVG 文件无效: %s";
} // namespace zx::ImageFileMessages
