// The settings table: the store's order and names, the record's defaults, each
// row reaching its own member, stored values taken as the controls take them,
// the rules of a change, and the rows that must agree with each other.

#include "core/flag/FlagSettings.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace zx {
namespace {

    std::vector<std::string> NamesOfGroup(TSettingGroup group)
    {
        std::vector<std::string> names;
        for (const TSetting& setting : SettingsTable()) {
            if (setting.Group == group)
                names.push_back(setting.Name);
        }
        return names;
    }

    const TSetting& Row(const char* name)
    {
        const TSetting* setting = FindSetting(name);
        EXPECT_NE(setting, nullptr) << name;
        static const TSetting none {};
        return setting ? *setting : none;
    }

    TEST(FlagSettings, StoreGroupsKeepTheirNamesAndOrder)
    {
        // The order the store has always been read and written in.
        EXPECT_EQ(NamesOfGroup(TSettingGroup::Settings),
            (std::vector<std::string> { "Frames", "Distance", "Amplitude", "Frequency", "Angle",
                "BumpIntensity", "BumpFrequency", "Brightness", "Contrast", "GIFDelay", "GIFLoops",
                "GIFBits", "Antialiasing", "BackgroundColor", "TransparentMode", "InvertLightMode",
                "SpotX", "SpotY", "HighQuality", "Hoist", "HoistWidth", "ShowPole", "SaveFormat",
                "ExportScale", "Lossy", "MaxSizeKB", "WebPQuality", "WebPLossless" }));
        EXPECT_EQ(NamesOfGroup(TSettingGroup::Text),
            (std::vector<std::string> { "FontName", "FontSize", "FontColor", "FontAngle",
                "FontShaddow", "AlignHorizontal", "AlignVertical" }));
        // Never stored: the radial mode, the CLI's frame size, the text itself.
        EXPECT_EQ(NamesOfGroup(TSettingGroup::None),
            (std::vector<std::string> {
                "Radial", "MaxSizeBytes", "FrameWidth", "FrameHeight", "TextLines" }));
        EXPECT_EQ(FindSetting("Nonsense"), nullptr);
    }

    TEST(FlagSettings, TheWebPRowsAreTheWriterOptions)
    {
        TSettings settings;
        EXPECT_EQ(WebPOptionsOf(settings).Quality, 90);
        EXPECT_FALSE(WebPOptionsOf(settings).Lossless);
        settings.WebPQuality = 35;
        settings.WebPLossless = true;
        EXPECT_EQ(WebPOptionsOf(settings).Quality, 35);
        EXPECT_TRUE(WebPOptionsOf(settings).Lossless);
        const TSetting* quality = FindSetting("WebPQuality");
        ASSERT_NE(quality, nullptr);
        EXPECT_EQ(quality->Range.Max, 100);
        // The slider means nothing for a lossless file.
        ASSERT_NE(quality->Panel.EnabledWhen, nullptr);
        EXPECT_FALSE(quality->Panel.EnabledWhen(settings));
        settings.WebPLossless = false;
        EXPECT_TRUE(quality->Panel.EnabledWhen(settings));
    }

    TEST(FlagSettings, TheRecordStartsAtEveryRowsDefault)
    {
        const TSettings defaults;
        for (const TSetting& setting : SettingsTable()) {
            if (setting.Type == TSettingType::Text) {
                EXPECT_EQ(setting.Text.Get(defaults), setting.DefaultText) << setting.Name;
            } else {
                EXPECT_EQ(setting.Value.Get(defaults), setting.Range.Default) << setting.Name;
            }
            EXPECT_TRUE(
                setting.Type == TSettingType::Text || setting.Accepts(setting.Range.Default))
                << setting.Name;
        }
        // The ranges the controls have always had.
        EXPECT_EQ(Row("Frames").Range.Max, 40);
        EXPECT_EQ(Row("GIFBits").Range.Min, 3);
        EXPECT_EQ(Row("SpotX").Range.Min, -512);
        EXPECT_EQ(Row("FontSize").Range.Min, 5);
        EXPECT_EQ(Row("FontShaddow").Panel.Step, 5);
        // zephyrix-cli's frames go up to the largest the renderer makes.
        EXPECT_EQ(Row("FrameWidth").Range.Max, 1920);
        EXPECT_EQ(Row("FrameHeight").Range.Max, 1200);
    }

    TEST(FlagSettings, EveryRowReadsAndWritesItsOwnMember)
    {
        for (const TSetting& setting : SettingsTable()) {
            TSettings settings;
            if (setting.Type == TSettingType::Text) {
                setting.Text.Set(settings, "Noto Sans");
                EXPECT_EQ(setting.Text.Get(settings), "Noto Sans") << setting.Name;
            } else {
                // A value other than the default, within the range.
                const std::int32_t value = setting.Range.Default == setting.Range.Max
                    ? setting.Range.Min
                    : setting.Range.Max;
                setting.Value.Set(settings, value);
                EXPECT_EQ(setting.Value.Get(settings), value) << setting.Name;
            }
            const TSettings defaults;
            for (const TSetting& other : SettingsTable()) {
                if (&other == &setting)
                    continue;
                if (other.Type == TSettingType::Text) {
                    EXPECT_EQ(other.Text.Get(settings), other.Text.Get(defaults))
                        << setting.Name << " / " << other.Name;
                } else {
                    EXPECT_EQ(other.Value.Get(settings), other.Value.Get(defaults))
                        << setting.Name << " / " << other.Name;
                }
            }
        }
    }

    TEST(FlagSettings, TheLinesOfTextTravelWithBackslashN)
    {
        const TSetting& lines = Row("TextLines");
        TSettings settings;
        lines.Text.Set(settings, "one\\ntwo\\n\\nfour\\x");
        EXPECT_EQ(settings.Text.Lines, (std::vector<std::string> { "one", "two", "", "four\\x" }));
        EXPECT_EQ(lines.Text.Get(settings), "one\\ntwo\\n\\nfour\\x");
        lines.Text.Set(settings, "");
        EXPECT_FALSE(settings.Text.HasText());
    }

    TEST(FlagSettings, StoredValuesAreTakenAsTheControlsTakeThem)
    {
        // Sliders and radio groups clamp.
        EXPECT_EQ(TakeStoredValue(Row("Frames"), 100, 8), 40);
        EXPECT_EQ(TakeStoredValue(Row("Frames"), 0, 8), 1);
        EXPECT_EQ(TakeStoredValue(Row("Frames"), 17, 8), 17);
        EXPECT_EQ(TakeStoredValue(Row("Antialiasing"), 7, 0), 2);
        EXPECT_EQ(TakeStoredValue(Row("Antialiasing"), -3, 1), 0);
        EXPECT_EQ(TakeStoredValue(Row("SpotY"), -2147483647 - 1, 0), -512);
        EXPECT_EQ(TakeStoredValue(Row("FontAngle"), 400, 0), 360);
        // Check boxes are ticked by any number but 0.
        EXPECT_EQ(TakeStoredValue(Row("InvertLightMode"), 5, 0), 1);
        EXPECT_EQ(TakeStoredValue(Row("TransparentMode"), 0, 1), 0);
        // A number that is no colour leaves the chooser alone.
        EXPECT_EQ(TakeStoredValue(Row("BackgroundColor"), 0x1000000, 0x123456), 0x123456);
        EXPECT_EQ(TakeStoredValue(Row("FontColor"), -1, 255), 255);
        EXPECT_EQ(TakeStoredValue(Row("BackgroundColor"), 0xFFFFFF, 0), 0xFFFFFF);

        // A value outside a set of allowed ones is no value for the control.
        constexpr std::int32_t kScales[] = { 1, 2, 3, 4, 6 };
        const TSetting scale { .Name = "ExportScale", .Range = { 1, 6, 1 }, .Allowed = kScales };
        EXPECT_EQ(TakeStoredValue(scale, 5, 2), 2);
        EXPECT_EQ(TakeStoredValue(scale, 6, 2), 6);
        EXPECT_EQ(TakeStoredValue(scale, 99, 2), 6);
        EXPECT_FALSE(scale.Accepts(5));
        EXPECT_TRUE(scale.Accepts(4));
    }

    TEST(FlagSettings, AChangeDoesWhatItsControlAlwaysDid)
    {
        for (const char* name : { "Brightness", "Contrast", "InvertLightMode" })
            EXPECT_EQ(Row(name).Effect, TSettingEffect::Relight) << name;
        for (const char* name : { "GIFDelay", "GIFLoops", "GIFBits", "HighQuality" })
            EXPECT_EQ(Row(name).Effect, TSettingEffect::None) << name;
        EXPECT_EQ(Row("BackgroundColor").Effect, TSettingEffect::RerenderOpaque);
        for (const char* name :
            { "Frames", "Distance", "Antialiasing", "Amplitude", "Frequency", "Angle", "Radial",
                "BumpIntensity", "BumpFrequency", "TransparentMode", "SpotX", "SpotY" })
            EXPECT_EQ(Row(name).Effect, TSettingEffect::Rerender) << name;

        // The angle takes input only without radial ripples.
        TSettings settings;
        const auto enabled = Row("Angle").Panel.EnabledWhen;
        ASSERT_NE(enabled, nullptr);
        EXPECT_TRUE(enabled(settings));
        settings.Flag.Radial = true;
        EXPECT_FALSE(enabled(settings));
    }

    TEST(FlagSettings, ControlsAndOptionsAreConsistent)
    {
        std::set<std::string> controls;
        std::set<std::string> options;
        for (const TSetting& setting : SettingsTable()) {
            const TSettingPanel& panel = setting.Panel;
            if (panel.Kind != TControlKind::None) {
                ASSERT_NE(panel.Control, nullptr) << setting.Name;
                // The text dialog's controls are its own; the panel has the rest.
                const std::string form = setting.Group == TSettingGroup::Text ? "text/" : "panel/";
                EXPECT_TRUE(controls.insert(form + panel.Control).second) << panel.Control;
                if (panel.Kind == TControlKind::Slider) {
                    EXPECT_TRUE(panel.Caption || panel.CaptionOf) << setting.Name;
                }
                if (panel.Kind == TControlKind::RadioGroup) {
                    // An item for each allowed value, or for each of 0..Max.
                    EXPECT_EQ(std::int32_t(panel.Items.size()),
                        setting.Allowed.empty() ? setting.Range.Max + 1
                                                : std::int32_t(setting.Allowed.size()))
                        << setting.Name;
                }
            }
            const TSettingCli& cli = setting.Cli;
            if (cli.Section == TCliSection::None)
                continue;
            EXPECT_NE(setting.Commands(), 0u) << setting.Name;
            if (cli.Form == TCliForm::Switches) {
                for (const TCliSwitch& option : cli.Switches) {
                    EXPECT_TRUE(options.insert(option.Name).second) << option.Name;
                    EXPECT_TRUE(setting.Accepts(option.Value)) << option.Name;
                }
                continue;
            }
            ASSERT_NE(cli.Option, nullptr) << setting.Name;
            EXPECT_TRUE(options.insert(cli.Option).second) << cli.Option;
            EXPECT_NE(cli.Help, nullptr) << cli.Option;
            if (cli.Form == TCliForm::Pair) {
                EXPECT_NE(FindSetting(cli.Partner ? cli.Partner : ""), nullptr) << cli.Option;
            }
            for (const TCliName& name : cli.Names)
                EXPECT_TRUE(setting.Accepts(name.Value)) << cli.Option << " " << name.Name;
        }
    }

    TEST(FlagSettings, TheExportTakesTheGifSettings)
    {
        TSettings settings;
        settings.Flag.Frames = 13;
        settings.Flag.GIFBits = 4;
        settings.Flag.GIFDelay = 21;
        settings.Flag.GIFLoops = 77;
        TExportOptions options = ExportOptionsOf(settings);
        EXPECT_EQ(options.Frames, 13);
        EXPECT_EQ(options.GIFBits, 4);
        EXPECT_EQ(options.GIFDelay, 21);
        EXPECT_EQ(options.GIFLoops, 77);
        EXPECT_EQ(options.Quality, TExportQuality::Standard);
        settings.HighQuality = true;
        EXPECT_EQ(ExportOptionsOf(settings).Quality, TExportQuality::High);
    }

} // namespace
} // namespace zx
