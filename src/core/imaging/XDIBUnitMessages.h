#pragma once

// The bitmap unit's messages: TDIB, its storage, its BMP streams and the BMP
// road of picture loading.

#include "core/Translatable.h"

namespace zx::DIBMessages {
// Every malformed BMP file or packed DIB, and a storage asked for no pixels.
inline constexpr const char* sInvalidDIB = ZX_TR_NOOP("Messages", "DIB 无效");
inline constexpr const char* sBadPixelFormat = ZX_TR_NOOP("Messages", "像素格式无效");
inline constexpr const char* sBadBitCount = "Bitcount in invalid (%d)";
inline constexpr const char* sScanLineRange = ZX_TR_NOOP("Messages", "扫描线指针超过范围。(%d)");
} // namespace zx::DIBMessages
