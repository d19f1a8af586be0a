#pragma once

// The program's GIF messages, for every part of the GIF unit: the model, the
// reader and writer, LZW, the quantizer and the ditherer. They are raised as
// exceptions or reported to the warning handler.

namespace zx::GIFMessages {
inline constexpr const char* sOutOfColors = "颜色表溢出";
inline constexpr const char* sBadColorIndex = "颜色不在颜色表中";
inline constexpr const char* sInvalidColorIndex = "无效的颜色指数";
inline constexpr const char* sUnsupportedClass = "此操作不支持此对象类型";
inline constexpr const char* sEmptyImage = "未被支持 GIF 样式";
inline constexpr const char* sScreenWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* sScreenHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* sBadDimension = "图像超出了合理的屏幕大小";
inline constexpr const char* sBadSignature = "无效的 GIF 标识信号";
inline constexpr const char* sPrematureEOF = "过早的数据末端";
inline constexpr const char* sUnknownExtension = "未知扩展类型";
inline constexpr const char* sBadExtensionLabel = "无效的扩展引入";
inline constexpr const char* sBadExtensionInstance
    = "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* sInvalidAppBlockSize = "不被支持的应用程序扩展数据快尺寸";
inline constexpr const char* sInvalidData = "无效 GIF 数据";
inline constexpr const char* sUnknownBlockType = "未知 GIF 数据块类型";
inline constexpr const char* sBadTrailer = "无效的图像尾部";
inline constexpr const char* sNoColorTable = "未定义整体或局部颜色表";
inline constexpr const char* sScreenEmpty = "GIF 逻辑屏幕的宽度或高度为 0";
inline constexpr const char* sNoFrames = "GIF 文件中没有图像";
inline constexpr const char* sFrameTooLarge = "GIF 图像的宽度或高度超过 65535";

// LZW coding.
inline constexpr const char* sBadMinCodeSize = "无效的 LZW 最小代码长度 (%d)";
inline constexpr const char* sCircularEntry = "Circular decoder table entry";
inline constexpr const char* sBitBufferUnderRun = "Decoder bit buffer under-run";

// Colour reduction.
inline constexpr const char* sInvalidBitmapList = "无效的位图列表";
inline constexpr const char* sInvalidImageSize = "无效的图像维数尺寸";
inline constexpr const char* sOutOfMemoryForDIB = "用于 GIF DIB 分配内存失败";
// Programming errors of the quantizer and the ditherer.
inline constexpr const char* sColourLimitRange = "Colour limit out of range (%d)";
inline constexpr const char* sTreeDepthRange = "Tree depth out of range (%d)";
inline constexpr const char* sDitherWithoutEntries = "Ditherer without palette entries";
inline constexpr const char* sDitherColumnRange = "Dither column out of range (%d)";
// The export's frames and masks.
inline constexpr const char* sMaskDoesNotFit = "透明遮罩与帧的尺寸不符";
inline constexpr const char* sFrameSizesDiffer = "动画的帧尺寸不一致";
inline constexpr const char* sTooManyFrames = "动画的帧数过多 (%d)";
} // namespace zx::GIFMessages
