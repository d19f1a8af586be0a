#include "ui/flag/SaveFormats.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <array>

namespace zx {

namespace {

    struct TSaveFormat {
        const char* Extension;
        const char* Description;
    };

    // The texts belong to the panel's translation context, where the GIF's
    // has always been.
    constexpr std::array<TSaveFormat, 3> kSaveFormats { {
        { "gif", QT_TRANSLATE_NOOP("zx::TFlagForm", "GIF 图像") },
        { "webp", QT_TRANSLATE_NOOP("zx::TFlagForm", "WebP 动画") },
        { "png", QT_TRANSLATE_NOOP("zx::TFlagForm", "APNG 动画") },
    } };

    std::size_t IndexOf(TAnimationFormat format)
    {
        const auto index = static_cast<std::size_t>(format);
        return index < kSaveFormats.size() ? index : 0;
    }

} // namespace

QStringList SaveFormatFilters()
{
    QStringList filters;
    for (const TSaveFormat& format : kSaveFormats)
        filters << QCoreApplication::translate("zx::TFlagForm", format.Description)
                + QStringLiteral(" (*.") + QString::fromLatin1(format.Extension)
                + QStringLiteral(")");
    return filters;
}

void OfferSaveFormats(QFileDialog& dialog, TAnimationFormat preferred)
{
    const QStringList filters = SaveFormatFilters();
    dialog.setNameFilters(filters);
    const std::size_t index = IndexOf(preferred);
    dialog.selectNameFilter(filters[static_cast<qsizetype>(index)]);
    dialog.setDefaultSuffix(QString::fromLatin1(kSaveFormats[index].Extension));
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& filter) {
            const qsizetype chosen = filters.indexOf(filter);
            if (chosen >= 0)
                dialog.setDefaultSuffix(
                    QString::fromLatin1(kSaveFormats[static_cast<std::size_t>(chosen)].Extension));
        });
}

TAnimationFormat ChosenSaveFormat(const QFileDialog& dialog)
{
    const qsizetype chosen = SaveFormatFilters().indexOf(dialog.selectedNameFilter());
    return chosen > 0 ? static_cast<TAnimationFormat>(chosen) : TAnimationFormat::Gif;
}

TAnimationFormat SaveFormatOf(const QString& fileName, TAnimationFormat chosen)
{
    return AnimationFormatOfName(fileName.toStdString()).value_or(chosen);
}

TAnimationFormat AnimationFormatOfSetting(std::int32_t value)
{
    return value >= 0 && static_cast<std::size_t>(value) < kSaveFormats.size()
        ? static_cast<TAnimationFormat>(value)
        : TAnimationFormat::Gif;
}

} // namespace zx
