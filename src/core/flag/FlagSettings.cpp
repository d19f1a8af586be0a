#include "core/flag/FlagSettings.h"

#include "core/Translatable.h"
#include "core/flag/FlagSettingsOptions.h"
#include "core/gif/XGIFUnitLossy.h"

#include <algorithm>
#include <iterator>
#include <type_traits>

namespace zx {

namespace {

    // A number-like member of TSettings, reached through a path of members
    // (&TSettings::Flag, &FlagParameters::Frames).
    template <auto... Path> std::int32_t GetNumber(const TSettings& settings)
    {
        return static_cast<std::int32_t>((settings.*....*Path));
    }
    template <auto... Path> void SetNumber(TSettings& settings, std::int32_t value)
    {
        auto& field = (settings.*....*Path);
        field = static_cast<std::remove_cvref_t<decltype(field)>>(value);
    }
    template <auto... Path>
    constexpr TSettingValue kNumber { &GetNumber<Path...>, &SetNumber<Path...> };

    template <auto Field> constexpr TSettingValue kFlag = kNumber<&TSettings::Flag, Field>;
    template <auto Field> constexpr TSettingValue kText = kNumber<&TSettings::Text, Field>;

    // The lines of text as one string, with the two characters backslash and
    // n between lines (as --text writes them).
    std::string GetLines(const TSettings& settings)
    {
        std::string text;
        for (std::size_t i = 0; i < settings.Text.Lines.size(); ++i)
            text += (i == 0 ? "" : "\\n") + settings.Text.Lines[i];
        return text;
    }
    void SetLines(TSettings& settings, const std::string& text)
    {
        std::vector<std::string> lines(1);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
                lines.emplace_back();
                ++i;
            } else {
                lines.back() += text[i];
            }
        }
        settings.Text.Lines = std::move(lines);
    }

    constexpr TSettingText kFontName { [](const TSettings& s) { return s.Text.FontName; },
        [](TSettings& s, const std::string& name) { s.Text.FontName = name; } };

    constexpr TFlagRange kAlignRange { 0, 2, 1 };

    constexpr const char* kAntialiasItems[]
        = { ZX_TR_NOOP("Settings", "禁止 (快速)"), "2x2", ZX_TR_NOOP("Settings", "4x4 (缓慢)") };
    constexpr const char* kAlignHItems[] = { ZX_TR_NOOP("Settings", "左"),
        ZX_TR_NOOP("Settings", "中"), ZX_TR_NOOP("Settings", "右") };
    constexpr const char* kAlignVItems[] = { ZX_TR_NOOP("Settings", "顶"),
        ZX_TR_NOOP("Settings", "中"), ZX_TR_NOOP("Settings", "底") };
    constexpr TCliName kAlignHNames[]
        = { { "left", taLeft }, { "center", taCenter }, { "right", taRight } };
    constexpr TCliName kAlignVNames[]
        = { { "top", taTop }, { "middle", taMiddle }, { "bottom", taBottom } };
    constexpr TCliName kQualityNames[] = { { "standard", 0 }, { "high", 1 } };
    // The hoist's sides share their texts with the text's alignment; lupdate
    // reads the disambiguation from each mark, so it is spelt out in each.
    constexpr const char* kHoistItemsMeaning = "side of the pole";
    constexpr const char* kHoistItems[] = { ZX_TR_NOOP3("Settings", "无", "side of the pole"),
        ZX_TR_NOOP3("Settings", "左", "side of the pole"),
        ZX_TR_NOOP3("Settings", "右", "side of the pole"),
        ZX_TR_NOOP3("Settings", "上", "side of the pole"),
        ZX_TR_NOOP3("Settings", "下", "side of the pole") };
    constexpr TCliName kHoistNames[] = { { "none", hoNone }, { "left", hoLeft },
        { "right", hoRight }, { "top", hoTop }, { "bottom", hoBottom } };
    constexpr const char* kExportScaleItems[] = { "1x", "2x", "3x", "4x", "6x" };
    static_assert(std::size(kExportScaleItems) == kExportScales.size());

    // 2 GB less 1 KB, the largest size limit either unit holds.
    constexpr std::int32_t kMaxSizeKBLimit = 2097151;

    // --transparent and --no-invert-light turn back what --settings may have
    // brought.
    constexpr TCliSwitch kRadialSwitches[] = {
        { "--radial", 1,
            "radial ripples around the pin point instead of straight waves (default off)", 110 },
    };
    constexpr TCliSwitch kInvertSwitches[] = {
        { "--invert-light", 1, "swap the light and dark sides of the waves (default off)", 120 },
        { "--no-invert-light", 0, "light and dark sides as they come (the default)", 150 },
    };
    constexpr TCliSwitch kTransparentSwitches[] = {
        { "--opaque", 0,
            "fill the area outside the flag with the background colour instead of making it "
            "transparent (default off)",
            130 },
        { "--transparent", 1, "make the area outside the flag transparent (the default)", 140 },
    };
    constexpr TCliSwitch kPoleSwitches[] = {
        { "--pole", 1, "draw the pole beside the hoist edge (default off; needs --hoist)", 116 },
        { "--no-pole", 0, "no pole (turns back a saved one)", 118 },
    };

    // The width and the pole mean nothing while no edge is tied to the pole.
    bool HasHoist(const TSettings& s)
    {
        return s.Flag.Hoist != hoNone;
    }

    // The quality means nothing for a lossless WebP.
    bool LossyWebP(const TSettings& s)
    {
        return !s.WebPLossless;
    }

    constexpr TSettingPanel Slider(const char* control, const char* caption, std::int32_t step = 1)
    {
        return {
            .Kind = TControlKind::Slider, .Control = control, .Caption = caption, .Step = step
        };
    }

    constexpr TSettingCli Number(TCliSection section, const char* option, const char* metavar,
        std::int32_t rank, const char* help)
    {
        return {
            .Section = section, .Option = option, .Metavar = metavar, .Help = help, .HelpRank = rank
        };
    }

    // The "Settings" rows come in the store's order (the sliders first, as the
    // program has always read and written them), then "Text"'s; the rest are
    // not stored.
    const TSetting kSettings[] = {
        { .Name = "Frames",
            .Range = kFramesRange,
            .Value = kFlag<&FlagParameters::Frames>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = Slider("FramesNiceScrollBar", ZX_TR_NOOP("Settings", "帧数：<#Pos>")),
            .Cli = Number(TCliSection::Flag, "--frames", "N", 10,
                "frames in the loop (<min>..<max>, default <default>)") },
        { .Name = "Distance",
            .Range = kDistanceRange,
            .Value = kFlag<&FlagParameters::Distance>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = Slider("DistanceNiceScrollBar", ZX_TR_NOOP("Settings", "距离：<#Pos>")),
            .Cli = Number(TCliSection::Flag, "--distance", "N", 20,
                "viewing distance; positive makes the flag smaller (<min>..<max>, default "
                "<default>)") },
        { .Name = "Amplitude",
            .Range = kAmplitudeRange,
            .Value = kFlag<&FlagParameters::Amplitude>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = Slider("HeightNiceScrollBar", ZX_TR_NOOP("Settings", "振幅：<#Pos>%")),
            .Cli = Number(TCliSection::Flag, "--amplitude", "N", 40,
                "wave height in % (<min>..<max>, default <default>)") },
        { .Name = "Frequency",
            .Range = kFrequencyRange,
            .Value = kFlag<&FlagParameters::Frequency>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = Slider("FrequencyNiceScrollBar", ZX_TR_NOOP("Settings", "频率：<#Pos>")),
            .Cli = Number(TCliSection::Flag, "--frequency", "N", 50,
                "waves across the flag; the sign sets the direction of travel (<min>..<max>, "
                "default <default>)") },
        { .Name = "Angle",
            .Range = kAngleRange,
            .Value = kFlag<&FlagParameters::Angle>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::Slider,
                .Control = "AngleNiceScrollBar",
                .Caption = ZX_TR_NOOP("Settings", "角度：<#Pos>"),
                .EnabledWhen = [](const TSettings& s) { return !s.Flag.Radial; } },
            .Cli = Number(TCliSection::Flag, "--angle", "N", 60,
                "direction of travel in degrees, anticlockwise (ignored with --radial) "
                "(<min>..<max>, default <default>)") },
        { .Name = "BumpIntensity",
            .Range = kBumpIntensityRange,
            .Value = kFlag<&FlagParameters::BumpIntensity>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = Slider("BumpAmpNiceScrollBar", ZX_TR_NOOP("Settings", "强度：<#Pos>%")),
            .Cli = Number(TCliSection::Flag, "--bump-intensity", "N", 70,
                "strength of the fixed shading jitter in % (<min>..<max>, default <default>)") },
        { .Name = "BumpFrequency",
            .Range = kBumpFrequencyRange,
            .Value = kFlag<&FlagParameters::BumpFrequency>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = Slider("BumpSizeNiceScrollBar", ZX_TR_NOOP("Settings", "频率：<#Pos>")),
            .Cli = Number(TCliSection::Flag, "--bump-frequency", "N", 80,
                "fineness of the shading jitter (<min>..<max>, default <default>)") },
        { .Name = "Brightness",
            .Range = kBrightnessRange,
            .Value = kFlag<&FlagParameters::Brightness>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Relight,
            .Panel = Slider("BrightnessNiceScrollBar", ZX_TR_NOOP("Settings", "亮度：<#Pos>%")),
            .Cli = Number(TCliSection::Flag, "--brightness", "N", 90,
                "brightness in % (<min>..<max>, default <default>)") },
        { .Name = "Contrast",
            .Range = kContrastRange,
            .Value = kFlag<&FlagParameters::Contrast>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Relight,
            .Panel = Slider("ContrastNiceScrollBar", ZX_TR_NOOP("Settings", "对比度：<#Pos>%")),
            .Cli = Number(TCliSection::Flag, "--contrast", "N", 100,
                "contrast of the wave's shading in % (<min>..<max>, default <default>)") },
        { .Name = "GIFDelay",
            .Range = kGIFDelayRange,
            .Value = kFlag<&FlagParameters::GIFDelay>,
            .Group = TSettingGroup::Settings,
            .Panel = Slider("DelayNiceScrollBar", ZX_TR_NOOP("Settings", "延迟：<#Mul1> 毫秒")),
            .Cli = Number(TCliSection::Gif, "--delay", "D", 10,
                "frame delay in 1/100 s (<min>..<max>, default <default>)") },
        { .Name = "GIFLoops",
            .Range = kGIFLoopsRange,
            .Value = kFlag<&FlagParameters::GIFLoops>,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::Slider,
                .Control = "LoopsNiceScrollBar",
                .CaptionOf = &LoopsCaption },
            .Cli = Number(TCliSection::Gif, "--loops", "P", 20,
                "loop-count slider position (<min>..<max>, default <default>):\n"
                "0 and 101 loop for ever, 1..50 loop P times,\n"
                "51..95 10 x P - 450 times, 96..100 100 x P - 9000") },
        { .Name = "GIFBits",
            .Range = kGIFBitsRange,
            .Value = kFlag<&FlagParameters::GIFBits>,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::Slider,
                .Control = "BitsNiceScrollBar",
                .CaptionOf = &BitsCaption },
            .Cli = Number(TCliSection::Gif, "--bits", "B", 30,
                "colour depth: 2^B colours, one fewer with transparency (<min>..<max>, default "
                "<default>)") },
        { .Name = "Antialiasing",
            .Type = TSettingType::Choice,
            .Range = kAntialiasingRange,
            .Value = kFlag<&FlagParameters::Antialiasing>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::RadioGroup,
                .Control = "AntialiasRadioGroup",
                .Caption = ZX_TR_NOOP("Settings", "反锯齿"),
                .Items = kAntialiasItems },
            .Cli = Number(TCliSection::Flag, "--antialias", "N", 30,
                "antialiasing: 0 none, 1 = 2x2, 2 = 4x4 samples per pixel (<min>..<max>, "
                "default <default>)") },
        { .Name = "BackgroundColor",
            .Type = TSettingType::Color,
            .Range = kColorRange,
            .Value = kFlag<&FlagParameters::BackgroundColor>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::RerenderOpaque,
            .Panel = { .Kind = TControlKind::ColorChoice,
                .Control = "BackColorChoice",
                .Caption = ZX_TR_NOOP("Settings", "颜色") },
            .Cli = { .Section = TCliSection::Flag,
                .Option = "--background",
                .Metavar = "RRGGBB",
                .Help = "colour outside the flag in web order, e.g. ff8000; implies --opaque "
                        "(default <default>)",
                .HelpRank = 160,
                .Form = TCliForm::Color,
                .Implies = [](TSettings& s) { s.Flag.TransparentMode = false; } } },
        { .Name = "TransparentMode",
            .Type = TSettingType::Boolean,
            .Range = { 0, 1, 1 },
            .Value = kFlag<&FlagParameters::TransparentMode>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::CheckBox,
                .Control = "TransparentCheckBox",
                .Caption = ZX_TR_NOOP("Settings", "透明") },
            .Cli = { .Section = TCliSection::Flag,
                .Form = TCliForm::Switches,
                .Switches = kTransparentSwitches } },
        { .Name = "InvertLightMode",
            .Type = TSettingType::Boolean,
            .Range = kBooleanRange,
            .Value = kFlag<&FlagParameters::InvertLightMode>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Relight,
            .Panel = { .Kind = TControlKind::CheckBox,
                .Control = "SwapLightCheckBox",
                .Caption = ZX_TR_NOOP("Settings", "反转亮度") },
            .Cli = { .Section = TCliSection::Flag,
                .Form = TCliForm::Switches,
                .Switches = kInvertSwitches } },
        // The pin point, set by a click in the flag window.
        { .Name = "SpotX",
            .Range = kSpotRange,
            .Value = kFlag<&FlagParameters::SpotX>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Cli = { .Section = TCliSection::Flag,
                .Option = "--spot",
                .Metavar = "X,Y",
                .Help = "pin point in 1024ths of the frame size from its centre (<min>..<max> "
                        "each, default <default>,<default2>)",
                .HelpRank = 170,
                .Form = TCliForm::Pair,
                .Separator = ',',
                .Partner = "SpotY" } },
        { .Name = "SpotY",
            .Range = kSpotRange,
            .Value = kFlag<&FlagParameters::SpotY>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender },
        { .Name = "HighQuality",
            .Type = TSettingType::Boolean,
            .Range = kBooleanRange,
            .Value = kNumber<&TSettings::HighQuality>,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::CheckBox,
                .Control = "HighQualityCheckBox",
                .Caption = ZX_TR_NOOP("Settings", "高质量") },
            .Cli = { .Section = TCliSection::Gif,
                .Option = "--quality",
                .Help = "how the colours are reduced (default <default>):\n"
                        "standard is the program's own octree palette\n"
                        "and Stucki dithering; high fits the palette to\n"
                        "all frames and tunes it to the dithering, and\n"
                        "keeps still parts of the animation still",
                .HelpRank = 40,
                .Form = TCliForm::Names,
                .Names = kQualityNames,
                .BadName = "<option> must be standard or high, not \"<value>\"" } },
        { .Name = "Hoist",
            .Type = TSettingType::Choice,
            .Range = kHoistRange,
            .Value = kFlag<&FlagParameters::Hoist>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::RadioGroup,
                .Control = "HoistRadioGroup",
                .Caption = ZX_TR_NOOP("Settings", "旗杆侧"),
                .Items = kHoistItems,
                .ItemsMeaning = kHoistItemsMeaning,
                .SideBySide = true },
            .Cli = { .Section = TCliSection::Flag,
                .Option = "--hoist",
                .Help = "the edge tied to the pole, which stays straight and still while the "
                        "wave grows away from it (default <default>: the whole flag waves)",
                .HelpRank = 112,
                .Form = TCliForm::Names,
                .Names = kHoistNames } },
        { .Name = "HoistWidth",
            .Range = kHoistWidthRange,
            .Value = kFlag<&FlagParameters::HoistWidth>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::Slider,
                .Control = "HoistWidthNiceScrollBar",
                .Caption = ZX_TR_NOOP("Settings", "固定宽度: <#Pos>%"),
                .EnabledWhen = &HasHoist },
            .Cli = Number(TCliSection::Flag, "--hoist-width", "N", 114,
                "how far from the hoist the wave reaches full strength, in % of the flag's "
                "extent across the hoist; 0 pins only the edge (<min>..<max>, default "
                "<default>)") },
        { .Name = "ShowPole",
            .Type = TSettingType::Boolean,
            .Range = kBooleanRange,
            .Value = kFlag<&FlagParameters::ShowPole>,
            .Group = TSettingGroup::Settings,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::CheckBox,
                .Control = "PoleCheckBox",
                .Caption = ZX_TR_NOOP("Settings", "显示旗杆"),
                .EnabledWhen = &HasHoist },
            .Cli = { .Section = TCliSection::Flag,
                .Form = TCliForm::Switches,
                .Switches = kPoleSwitches } },
        // The save dialog's format, offered first the next time.
        { .Name = "SaveFormat",
            .Range = { 0, 2, 0 },
            .Value = kNumber<&TSettings::SaveFormat>,
            .Group = TSettingGroup::Settings },
        { .Name = "ExportScale",
            .Range = { kExportScales.front(), kExportScales.back(), kExportScales.front() },
            .Value = kNumber<&TSettings::ExportScale>,
            .Allowed = kExportScales,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::RadioGroup,
                .Control = "ExportScaleRadioGroup",
                .Caption = ZX_TR_NOOP("Settings", "导出尺寸"),
                .Items = kExportScaleItems,
                .SideBySide = true },
            .Cli = Number(TCliSection::Flag, "--scale", "K", 190,
                "render the frames at K times --size, the same flag only sharper: 1, 2, 3, 4 "
                "or 6 (default <default>); the frames may be at most 1920 x 1200") },
        { .Name = "Lossy",
            .Range = { kLossyMin, kLossyMax, 0 },
            .Value = kNumber<&TSettings::Lossy>,
            .Group = TSettingGroup::Settings,
            .Panel = Slider("LossyNiceScrollBar", ZX_TR_NOOP("Settings", "有损: <#Pos>"), 5),
            .Cli = Number(TCliSection::Gif, "--lossy", "N", 50,
                "lossy coding: how far a pixel's colour may stray so that it continues "
                "a run of pixels the file has coded before; 0 is off (<min>..<max>, "
                "default <default>)") },
        { .Name = "MaxSizeKB",
            .Range = { 0, kMaxSizeKBLimit, 0 },
            .Value = kNumber<&TSettings::MaxSizeKB>,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::IntegerEdit,
                .Control = "MaxSizeIntegerEdit",
                .Caption = ZX_TR_NOOP("Settings", "最大文件大小 (KB)") } },
        // The panel's WebP; zephyrix-cli takes --webp-quality and --lossless
        // over them.
        { .Name = "WebPQuality",
            .Range = kWebPQualityRange,
            .Value = kNumber<&TSettings::WebPQuality>,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::Slider,
                .Control = "WebPQualityNiceScrollBar",
                .Caption = ZX_TR_NOOP("Settings", "WebP 质量: <#Pos>"),
                .Step = 5,
                .EnabledWhen = &LossyWebP } },
        { .Name = "WebPLossless",
            .Type = TSettingType::Boolean,
            .Range = kBooleanRange,
            .Value = kNumber<&TSettings::WebPLossless>,
            .Group = TSettingGroup::Settings,
            .Panel = { .Kind = TControlKind::CheckBox,
                .Control = "WebPLosslessCheckBox",
                .Caption = ZX_TR_NOOP("Settings", "WebP 无损") } },

        // Not stored: the radial mode always starts off.
        { .Name = "Radial",
            .Type = TSettingType::Boolean,
            .Range = kBooleanRange,
            .Value = kFlag<&FlagParameters::Radial>,
            .Effect = TSettingEffect::Rerender,
            .Panel = { .Kind = TControlKind::CheckBox,
                .Control = "RadialCheckBox",
                .Caption = ZX_TR_NOOP("Settings", "辐射波纹") },
            .Cli = { .Section = TCliSection::Flag,
                .Form = TCliForm::Switches,
                .Switches = kRadialSwitches } },
        // The command line's size limit, in bytes; it replaces the stored one.
        { .Name = "MaxSizeBytes",
            .Range = { 0, kMaxSizeKBLimit * 1024, 0 },
            .Value = kNumber<&TSettings::MaxSizeBytes>,
            .Cli = { .Section = TCliSection::Gif,
                .Option = "--max-size",
                .Metavar = "SIZE",
                .Help = "write the largest file of at most SIZE bytes (K = 1024, M = 1048576: "
                        "256K, 8M), in every format: a GIF raises the lossy level, then lowers "
                        "the colours, then the frame size; 0 is no limit (default <default>)",
                .HelpRank = 60,
                .ParseNumber = &ParseByteSize,
                .Implies = [](TSettings& s) { s.MaxSizeKB = 0; } } },
        // The command line's frame size; the desktop program's is its flag
        // window's.
        { .Name = "FrameWidth",
            .Range = { kMinFrameWidth, kMaxRenderWidth, kDefaultFrameWidth },
            .Value = kNumber<&TSettings::FrameWidth>,
            .Effect = TSettingEffect::Rerender,
            .Cli = { .Section = TCliSection::Flag,
                .Option = "--size",
                .Metavar = "WxH",
                .Help = "frame size (<min>..<max> x <min2>..<max2>, default "
                        "<default>x<default2>)",
                .HelpRank = 180,
                .Form = TCliForm::Pair,
                .Separator = 'x',
                .Partner = "FrameHeight" } },
        { .Name = "FrameHeight",
            .Range = { kMinFrameHeight, kMaxRenderHeight, kDefaultFrameHeight },
            .Value = kNumber<&TSettings::FrameHeight>,
            .Effect = TSettingEffect::Rerender },

        // The text dialog's, in the store's order.
        { .Name = "FontName",
            .Type = TSettingType::Text,
            .Text = kFontName,
            .DefaultText = kDefaultTextFont,
            .Group = TSettingGroup::Text,
            .Cli = { .Section = TCliSection::Text,
                .Option = "--font",
                .Metavar = "NAME",
                .Help = "an installed font family (default <default>, or the first installed "
                        "family when <default> is not installed)",
                .HelpRank = 20,
                .Form = TCliForm::Text,
                .EmptyMessage = "--font needs a font family name" } },
        { .Name = "FontSize",
            .Range = { kTextSizeRange.Min, kTextSizeRange.Max, kTextSizeRange.Default },
            .Value = kText<&TTextOverlaySettings::Size>,
            .Group = TSettingGroup::Text,
            .Panel = Slider("SizeNiceScrollBar", ZX_TR_NOOP("Settings", "尺寸：<#Pos>%")),
            .Cli = Number(TCliSection::Text, "--font-size", "N", 30,
                "font height in % of the picture's width (<min>..<max>, default <default>)") },
        { .Name = "FontColor",
            .Type = TSettingType::Color,
            .Range = kColorRange,
            .Value = kText<&TTextOverlaySettings::Color>,
            .Group = TSettingGroup::Text,
            .Panel = { .Kind = TControlKind::ColorChoice,
                .Control = "FontColorChoice",
                .Caption = ZX_TR_NOOP("Settings", "颜色") },
            .Cli = { .Section = TCliSection::Text,
                .Option = "--font-color",
                .Metavar = "RRGGBB",
                .Help = "text colour in web order (default <default>)",
                .HelpRank = 40,
                .Form = TCliForm::Color } },
        { .Name = "FontAngle",
            .Range = { kTextAngleRange.Min, kTextAngleRange.Max, kTextAngleRange.Default },
            .Value = kText<&TTextOverlaySettings::Angle>,
            .Group = TSettingGroup::Text,
            .Panel = Slider("AngleNiceScrollBar", ZX_TR_NOOP("Settings", "角度：<#Pos>")),
            .Cli = Number(TCliSection::Text, "--font-angle", "N", 50,
                "rotation in degrees, anticlockwise (<min>..<max>, default <default>)") },
        { .Name = "FontShaddow",
            .Range = { kTextShadowRange.Min, kTextShadowRange.Max, kTextShadowRange.Default },
            .Value = kText<&TTextOverlaySettings::Shadow>,
            .Group = TSettingGroup::Text,
            .Panel = Slider("ShaddowNiceScrollBar", ZX_TR_NOOP("Settings", "投影深度：<#Pos>%"), 5),
            .Cli = Number(TCliSection::Text, "--shadow", "N", 60,
                "depth of the blurred shadow, 0 for none (<min>..<max>, default <default>)") },
        { .Name = "AlignHorizontal",
            .Type = TSettingType::Choice,
            .Range = kAlignRange,
            .Value = kText<&TTextOverlaySettings::AlignH>,
            .Group = TSettingGroup::Text,
            .Panel = { .Kind = TControlKind::RadioGroup,
                .Control = "AlignHRadioGroup",
                .Caption = ZX_TR_NOOP("Settings", "水平对齐"),
                .Items = kAlignHItems,
                .SideBySide = true },
            .Cli = { .Section = TCliSection::Text,
                .Option = "--align-h",
                .Help = "horizontal alignment (default <default>)",
                .HelpRank = 70,
                .Form = TCliForm::Names,
                .Names = kAlignHNames } },
        { .Name = "AlignVertical",
            .Type = TSettingType::Choice,
            .Range = kAlignRange,
            .Value = kText<&TTextOverlaySettings::AlignV>,
            .Group = TSettingGroup::Text,
            .Panel = { .Kind = TControlKind::RadioGroup,
                .Control = "AlignVRadioGroup",
                .Caption = ZX_TR_NOOP("Settings", "垂直调整"),
                .Items = kAlignVItems,
                .SideBySide = true },
            .Cli = { .Section = TCliSection::Text,
                .Option = "--align-v",
                .Help = "vertical alignment (default <default>)",
                .HelpRank = 80,
                .Form = TCliForm::Names,
                .Names = kAlignVNames } },
        // The lines themselves are never stored; the dialog's memo holds them.
        { .Name = "TextLines",
            .Type = TSettingType::Text,
            .Text = { &GetLines, &SetLines },
            .DefaultText = "",
            .Cli = { .Section = TCliSection::Text,
                .Option = "--text",
                .Metavar = "TEXT",
                .Help = "the text; the two characters \\n start a new line",
                .HelpRank = 10,
                .Form = TCliForm::Text } },
    };

} // namespace

bool TSetting::Accepts(std::int32_t value) const
{
    if (!Range.Contains(value))
        return false;
    return Allowed.empty() || std::find(Allowed.begin(), Allowed.end(), value) != Allowed.end();
}

unsigned TSetting::Commands() const
{
    if (Cli.Commands != 0)
        return Cli.Commands;
    switch (Cli.Section) {
    case TCliSection::Flag:
        return kCliFrames | kCliExport;
    case TCliSection::Text:
        return kCliFrames | kCliExport | kCliConvert;
    case TCliSection::Gif:
        return kCliExport | kCliEncode;
    case TCliSection::None:
        break;
    }
    return 0;
}

std::span<const TSetting> SettingsTable()
{
    return kSettings;
}

const TSetting* FindSetting(std::span<const TSetting> table, std::string_view name)
{
    for (const TSetting& setting : table) {
        if (name == setting.Name)
            return &setting;
    }
    return nullptr;
}

const TSetting* FindSetting(std::string_view name)
{
    return FindSetting(SettingsTable(), name);
}

std::int32_t TakeStoredValue(const TSetting& setting, std::int32_t stored, std::int32_t current)
{
    switch (setting.Type) {
    case TSettingType::Boolean:
        return stored != 0 ? 1 : 0;
    case TSettingType::Color:
        return setting.Accepts(stored) ? stored : current;
    case TSettingType::Integer:
    case TSettingType::Choice:
    case TSettingType::Text:
        break;
    }
    const std::int32_t clamped = setting.Range.Clamp(stored);
    return setting.Accepts(clamped) ? clamped : current;
}

TExportOptions ExportOptionsOf(const TSettings& settings)
{
    TExportOptions options;
    options.Frames = settings.Flag.Frames;
    options.GIFBits = settings.Flag.GIFBits;
    options.GIFDelay = settings.Flag.GIFDelay;
    options.GIFLoops = settings.Flag.GIFLoops;
    options.Quality = settings.HighQuality ? TExportQuality::High : TExportQuality::Standard;
    return options;
}

TWebPOptions WebPOptionsOf(const TSettings& settings)
{
    return { .Lossless = settings.WebPLossless, .Quality = settings.WebPQuality };
}

bool ExportSizeFits(const TSettings& settings)
{
    return std::int64_t(settings.FrameWidth) * settings.ExportScale <= kMaxRenderWidth
        && std::int64_t(settings.FrameHeight) * settings.ExportScale <= kMaxRenderHeight;
}

TSizeOptions SizeOptionsOf(const TSettings& settings)
{
    TSizeOptions options;
    options.Lossy = settings.Lossy;
    options.MaxSize = settings.MaxSizeBytes > 0
        ? static_cast<std::uint64_t>(settings.MaxSizeBytes)
        : static_cast<std::uint64_t>(std::max(settings.MaxSizeKB, 0)) * 1024;
    return options;
}

std::int64_t ParseByteSize(const std::string& option, std::string_view text)
{
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    const std::string_view unit = text.substr(digits);
    std::int64_t scale = 1;
    if (unit == "K" || unit == "k")
        scale = 1024;
    else if (unit == "M" || unit == "m")
        scale = 1048576;
    else if (!unit.empty())
        digits = 0;
    // Twelve digits are more than any limit within the range.
    if (digits == 0 || digits > 12)
        throw EUsageError(option + ": \"" + std::string(text)
            + "\" is not a size (a byte count, or one with K or M: 256K, 8M)");
    std::int64_t value = 0;
    for (std::size_t i = 0; i < digits; ++i)
        value = value * 10 + (text[i] - '0');
    return value * scale;
}

} // namespace zx
