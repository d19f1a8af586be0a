// The command line made from the settings table: each form of option, the
// commands that take it, the exact messages of bad values, and the help
// lines. A table of settings still to come shows the forms they will need.

#include "core/flag/FlagSettingsOptions.h"

#include <gtest/gtest.h>
#include <string>
#include <type_traits>
#include <vector>

namespace zx {
namespace {

    struct TParsed {
        std::size_t Used = 0;
        TSettings Settings;
        const TSetting* Matched = nullptr;
    };

    TParsed Parse(std::vector<std::string> args, unsigned command = kCliExport,
        std::span<const TSetting> table = SettingsTable())
    {
        TParsed parsed;
        parsed.Used = ParseSettingOption(table, command, args, 0, parsed.Settings, &parsed.Matched);
        return parsed;
    }

    std::string ErrorOf(std::vector<std::string> args, unsigned command = kCliExport,
        std::span<const TSetting> table = SettingsTable())
    {
        try {
            Parse(std::move(args), command, table);
        } catch (const EUsageError& error) {
            return error.what();
        }
        return "no error";
    }

    TEST(FlagSettingsOptions, EachFormSetsItsSetting)
    {
        TParsed parsed = Parse({ "--frames", "6" });
        EXPECT_EQ(parsed.Used, 2u);
        EXPECT_EQ(parsed.Settings.Flag.Frames, 6);
        EXPECT_STREQ(parsed.Matched->Name, "Frames");
        parsed = Parse({ "--amplitude=+7" });
        EXPECT_EQ(parsed.Used, 1u);
        EXPECT_EQ(parsed.Settings.Flag.Amplitude, 7);

        parsed = Parse({ "--radial" });
        EXPECT_EQ(parsed.Used, 1u);
        EXPECT_TRUE(parsed.Settings.Flag.Radial);
        EXPECT_TRUE(Parse({ "--invert-light" }).Settings.Flag.InvertLightMode);
        parsed.Settings.Flag.InvertLightMode = true;
        const std::vector<std::string> noInvert { "--no-invert-light" };
        EXPECT_EQ(
            ParseSettingOption(SettingsTable(), kCliFrames, noInvert, 0, parsed.Settings, nullptr),
            1u);
        EXPECT_FALSE(parsed.Settings.Flag.InvertLightMode);
        EXPECT_FALSE(Parse({ "--opaque" }).Settings.Flag.TransparentMode);

        // A colour in web order becomes 0x00BBGGRR; the background implies an
        // opaque flag.
        parsed = Parse({ "--background", "#336699" });
        EXPECT_EQ(parsed.Settings.Flag.BackgroundColor, 0x996633u);
        EXPECT_FALSE(parsed.Settings.Flag.TransparentMode);
        EXPECT_EQ(Parse({ "--font-color=ff0000" }).Settings.Text.Color, 0x0000FFu);

        parsed = Parse({ "--spot", "100,-200" });
        EXPECT_EQ(parsed.Settings.Flag.SpotX, 100);
        EXPECT_EQ(parsed.Settings.Flag.SpotY, -200);
        parsed = Parse({ "--size=320x16" });
        EXPECT_EQ(parsed.Settings.FrameWidth, 320);
        EXPECT_EQ(parsed.Settings.FrameHeight, 16);

        EXPECT_EQ(Parse({ "--align-h", "right" }).Settings.Text.AlignH, taRight);
        EXPECT_EQ(Parse({ "--align-v", "top" }).Settings.Text.AlignV, taTop);
        EXPECT_TRUE(Parse({ "--quality", "high" }).Settings.HighQuality);
        EXPECT_FALSE(Parse({ "--quality", "standard" }).Settings.HighQuality);

        parsed = Parse({ "--font", "DejaVu Sans" });
        EXPECT_EQ(parsed.Settings.Text.FontName, "DejaVu Sans");
        EXPECT_STREQ(parsed.Matched->Name, "FontName");
        EXPECT_EQ(Parse({ "--text", "a\\nb" }).Settings.Text.Lines,
            (std::vector<std::string> { "a", "b" }));
        // Not an option of a setting.
        EXPECT_EQ(Parse({ "-o", "x.gif" }).Used, 0u);
        EXPECT_EQ(Parse({ "picture.png" }).Used, 0u);
    }

    TEST(FlagSettingsOptions, EachCommandTakesItsSections)
    {
        EXPECT_EQ(Parse({ "--frames", "3" }, kCliFrames).Used, 2u);
        EXPECT_EQ(Parse({ "--frames", "3" }, kCliEncode).Used, 0u);
        EXPECT_EQ(Parse({ "--frames", "3" }, kCliConvert).Used, 0u);
        EXPECT_EQ(Parse({ "--bits", "5" }, kCliEncode).Used, 2u);
        EXPECT_EQ(Parse({ "--bits", "5" }, kCliFrames).Used, 0u);
        EXPECT_EQ(Parse({ "--shadow", "5" }, kCliConvert).Used, 2u);
        EXPECT_EQ(Parse({ "--shadow", "5" }, kCliEncode).Used, 0u);
        EXPECT_EQ(Parse({ "--radial" }, kCliConvert).Used, 0u);
    }

    TEST(FlagSettingsOptions, BadValuesSayWhatIsWrong)
    {
        EXPECT_EQ(ErrorOf({ "--frames", "41" }), "--frames: 41 is out of range 1..40");
        EXPECT_EQ(ErrorOf({ "--frames", "x" }), "--frames: \"x\" is not a whole number");
        EXPECT_EQ(ErrorOf({ "--frames=" }), "--frames: \"\" is not a whole number");
        EXPECT_EQ(ErrorOf({ "--frames", "99999999999999999999" }),
            "--frames: 99999999999999999999 is out of range 1..40");
        EXPECT_EQ(ErrorOf({ "--frames", "3.5" }), "--frames: \"3.5\" is not a whole number");
        EXPECT_EQ(ErrorOf({ "--delay" }), "--delay needs a value");
        EXPECT_EQ(ErrorOf({ "--radial=1" }), "--radial takes no value");
        EXPECT_EQ(
            ErrorOf({ "--quality", "best" }), "--quality must be standard or high, not \"best\"");
        EXPECT_EQ(ErrorOf({ "--align-h", "middle" }),
            "--align-h: \"middle\" is not one of left|center|right");
        EXPECT_EQ(ErrorOf({ "--background", "12345" }),
            "--background: \"12345\" is not a colour RRGGBB (six hexadecimal digits)");
        EXPECT_EQ(ErrorOf({ "--spot", "1" }), "--spot: \"1\" is not of the form X,Y");
        EXPECT_EQ(ErrorOf({ "--spot", "1,600" }), "--spot: 600 is out of range -512..511");
        EXPECT_EQ(ErrorOf({ "--size", "10x10" }), "--size: 10 is out of range 16..1920");
        EXPECT_EQ(ErrorOf({ "--size", "100x1201" }), "--size: 1201 is out of range 16..1200");
        EXPECT_EQ(ErrorOf({ "--size", "1921x100" }), "--size: 1921 is out of range 16..1920");
        EXPECT_EQ(ErrorOf({ "--scale", "5" }), "--scale: 5 is not one of 1, 2, 3, 4, 6");
        EXPECT_EQ(ErrorOf({ "--font", "" }), "--font needs a font family name");
        EXPECT_EQ(ErrorOf({ "--shadow", "101" }), "--shadow: 101 is out of range 0..100");
    }

    // Settings of the kinds planned next: an output format by name with a
    // number stored, a size with K and M, an export scale from a fixed set,
    // and a switch of export only.
    constexpr TCliName kFormats[] = { { "gif", 0 }, { "webp", 1 }, { "apng", 2 } };
    constexpr std::int32_t kScales[] = { 1, 2, 3, 4, 6 };
    std::int64_t ParseKilobytes(const std::string& option, std::string_view text)
    {
        std::int64_t factor = 1;
        if (!text.empty() && (text.back() == 'K' || text.back() == 'M')) {
            factor = text.back() == 'M' ? 1024 : 1;
            text.remove_suffix(1);
        }
        return std::int64_t(ParseWholeNumber(option, text, { 0, 1 << 20, 0 })) * factor;
    }
    struct TPlanned {
        std::int32_t Format = 0;
        std::int32_t MaxSize = 0;
        std::int32_t Scale = 1;
    };
    TPlanned gPlanned;
    template <auto Member> std::int32_t Get(const TSettings&)
    {
        return static_cast<std::int32_t>(gPlanned.*Member);
    }
    template <auto Member> void Set(TSettings&, std::int32_t value)
    {
        gPlanned.*Member = static_cast<std::remove_cvref_t<decltype(gPlanned.*Member)>>(value);
    }
    const TSetting kPlanned[] = {
        { .Name = "SaveFormat",
            .Type = TSettingType::Choice,
            .Range = { 0, 2, 0 },
            .Value = { &Get<&TPlanned::Format>, &Set<&TPlanned::Format> },
            .Cli = { .Section = TCliSection::Gif,
                .Option = "--format",
                .Help = "the file format (default <default>)",
                .Form = TCliForm::Names,
                .Names = kFormats } },
        { .Name = "MaxSizeKB",
            .Range = { 0, 65536, 0 },
            .Value = { &Get<&TPlanned::MaxSize>, &Set<&TPlanned::MaxSize> },
            .Cli = { .Section = TCliSection::Gif,
                .Option = "--max-size",
                .Metavar = "SIZE",
                .Help = "at most this many kilobytes (<min>..<max>K)",
                .ParseNumber = &ParseKilobytes } },
        { .Name = "ExportScale",
            .Range = { 1, 6, 1 },
            .Value = { &Get<&TPlanned::Scale>, &Set<&TPlanned::Scale> },
            .Allowed = kScales,
            .Cli = { .Section = TCliSection::Flag,
                .Commands = kCliExport,
                .Option = "--scale",
                .Metavar = "K",
                .Help = "export scale",
                .HelpRank = 2 } },
    };

    TEST(FlagSettingsOptions, TheFormsOfTheSettingsPlannedNext)
    {
        gPlanned = {};
        Parse({ "--format", "webp" }, kCliEncode, kPlanned);
        EXPECT_EQ(gPlanned.Format, 1);
        EXPECT_EQ(ErrorOf({ "--format", "png" }, kCliExport, kPlanned),
            "--format: \"png\" is not one of gif|webp|apng");

        Parse({ "--max-size", "256K" }, kCliExport, kPlanned);
        EXPECT_EQ(gPlanned.MaxSize, 256);
        Parse({ "--max-size=2M" }, kCliExport, kPlanned);
        EXPECT_EQ(gPlanned.MaxSize, 2048);
        EXPECT_EQ(ErrorOf({ "--max-size", "65M" }, kCliExport, kPlanned),
            "--max-size: 65M is out of range 0..65536");
        EXPECT_EQ(ErrorOf({ "--max-size", "lots" }, kCliExport, kPlanned),
            "--max-size: \"lots\" is not a whole number");

        Parse({ "--scale", "6" }, kCliExport, kPlanned);
        EXPECT_EQ(gPlanned.Scale, 6);
        EXPECT_EQ(ErrorOf({ "--scale", "5" }, kCliExport, kPlanned),
            "--scale: 5 is not one of 1, 2, 3, 4, 6");
        // Of export only, though listed with the flag options.
        EXPECT_EQ(Parse({ "--scale", "2" }, kCliFrames, kPlanned).Used, 0u);

        const std::string gif = SettingsHelp(kPlanned, TCliSection::Gif);
        EXPECT_NE(gif.find("  --format gif|webp|apng    the file format (default gif)\n"),
            std::string::npos)
            << gif;
        EXPECT_NE(gif.find("--max-size SIZE           at most this many kilobytes (0..65536K)"),
            std::string::npos)
            << gif;
    }

    TEST(FlagSettingsOptions, HelpLinesWrapBesideTheirOption)
    {
        EXPECT_EQ(HelpLine("--a N", "short"), "  --a N                     short\n");
        // An option wider than the margin keeps two spaces.
        EXPECT_EQ(HelpLine("--quite-long-option-name VALUE", "x"),
            "  --quite-long-option-name VALUE  x\n");
        const std::string words(30, 'w');
        EXPECT_EQ(HelpLine("--b", words + " " + words),
            "  --b                       " + words + "\n                            " + words
                + "\n");
        // A line break of the text's own.
        EXPECT_EQ(HelpLine("--c", "first\nsecond"),
            "  --c                       first\n                            second\n");
        for (const std::string& line : { HelpLine("--d", std::string(200, 'x') + " y") })
            EXPECT_NE(line.find("\n                            y\n"), std::string::npos);
    }

    TEST(FlagSettingsOptions, TheHelpListsEveryOptionWithItsRange)
    {
        const std::string flag = SettingsHelp(SettingsTable(), TCliSection::Flag);
        EXPECT_EQ(flag.rfind("  --frames N                frames in the loop (1..40, default 8)\n"
                             "  --distance N              viewing distance; positive makes the "
                             "flag smaller\n                            (-50..50, default 0)\n"
                             "  --antialias N ",
                      0),
            0u)
            << flag;
        // Ranked: the switches after the numbers, the pin point and the size
        // last.
        EXPECT_LT(flag.find("--contrast N"), flag.find("  --radial "));
        EXPECT_LT(flag.find("--opaque"), flag.find("--transparent"));
        EXPECT_LT(flag.find("--transparent"), flag.find("--no-invert-light"));
        EXPECT_NE(flag.find("--spot X,Y                pin point in 1024ths of the frame size "
                            "from its\n                            centre (-512..511 each, "
                            "default 0,0)\n"),
            std::string::npos);
        EXPECT_NE(flag.find("--size WxH                frame size (16..1920 x 16..1200, "
                            "default 150x97)\n"),
            std::string::npos);
        EXPECT_NE(flag.find("implies --opaque (default 000000)"), std::string::npos);

        const std::string gif = SettingsHelp(SettingsTable(), TCliSection::Gif);
        EXPECT_EQ(gif,
            "  --delay D                 frame delay in 1/100 s (1..50, default 5)\n"
            "  --loops P                 loop-count slider position (0..101, default 0):\n"
            "                            0 and 101 loop for ever, 1..50 loop P times,\n"
            "                            51..95 10 x P - 450 times, 96..100 100 x P - 9000\n"
            "  --bits B                  colour depth: 2^B colours, one fewer with\n"
            "                            transparency (3..8, default 8)\n"
            "  --quality standard|high   how the colours are reduced (default standard):\n"
            "                            standard is the program's own octree palette\n"
            "                            and Stucki dithering; high fits the palette to\n"
            "                            all frames and tunes it to the dithering, and\n"
            "                            keeps still parts of the animation still\n"
            "  --lossy N                 lossy coding: how far a pixel's colour may stray so\n"
            "                            that it continues a run of pixels the file has\n"
            "                            coded before; 0 is off (0..200, default 0)\n"
            "  --max-size SIZE           write the largest file of at most SIZE bytes (K =\n"
            "                            1024, M = 1048576: 256K, 8M), in every format: a\n"
            "                            GIF raises the lossy level, then lowers the\n"
            "                            colours, then the frame size; 0 is no limit\n"
            "                            (default 0)\n");

        const std::string text = SettingsHelp(SettingsTable(), TCliSection::Text);
        EXPECT_EQ(text.rfind("  --text TEXT ", 0), 0u) << text;
        EXPECT_NE(text.find("(default Arial, or the\n                            first installed "
                            "family when Arial is not installed)"),
            std::string::npos)
            << text;
        EXPECT_NE(text.find("--align-v top|middle|bottom  vertical alignment (default middle)"),
            std::string::npos)
            << text;
        // No template is left, and no line is wider than 79 columns.
        for (const std::string& help : { flag, gif, text }) {
            EXPECT_EQ(help.find('<'), std::string::npos) << help;
            std::size_t start = 0;
            for (std::size_t end = help.find('\n'); end != std::string::npos;
                 start = end + 1, end = help.find('\n', start))
                EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
        }
    }

} // namespace
} // namespace zx
