#pragma once

// The save dialog's formats: "GIF 图像 (*.gif)", "WebP 动画 (*.webp)" and
// "APNG 动画 (*.png)", in the order of TAnimationFormat, and the format a
// saved name stands for.

#include "core/gif/AnimationExport.h"

#include <QString>
#include <QStringList>

class QFileDialog;

namespace zx {

// The filters, translated, in TAnimationFormat's order.
QStringList SaveFormatFilters();

// Offers the three filters with preferred selected; the suffix added to a
// name typed without one follows the filter the user picks.
void OfferSaveFormats(QFileDialog& dialog, TAnimationFormat preferred);

// The format of the filter the user picked.
TAnimationFormat ChosenSaveFormat(const QFileDialog& dialog);

// The format of a saved name: the one its extension names (.gif, .webp, .png,
// .apng), otherwise the chosen one.
TAnimationFormat SaveFormatOf(const QString& fileName, TAnimationFormat chosen);

// The "SaveFormat" setting as a format; a value out of range is the GIF.
TAnimationFormat AnimationFormatOfSetting(std::int32_t value);

} // namespace zx
