#pragma once

// Every setting of the program, described once: its type, range and default,
// where the settings store keeps it, what a change of it does to the frames,
// how the control panel shows it, and its command-line option with the help
// line. Everything that handles settings is made from this table: the command
// line's parser and --help, reading and writing the store, the panel's
// controls and its snapshot of their values, and the export's options.
//
// A new setting is one row here (and one field in TSettings); where the panel
// shows it, one call that puts its control on a page.

#include "core/flag/FlagParameters.h"
#include "core/gif/GIFExport.h"
#include "core/gif/WebPAnimWriter.h"
#include "core/imaging/XTextOverlay.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zx {

// The value of every setting: what the panel shows, what zephyrix-cli parses
// and what the store keeps.
struct TSettings {
    // The flag, the GIF options and the pin point.
    FlagParameters Flag;
    // The export's second quality level (TExportQuality::High).
    bool HighQuality = false;
    // The format the panel saved the last animation in: a TAnimationFormat
    // number (0 GIF, 1 WebP, 2 APNG).
    std::int32_t SaveFormat = 0;
    // The exported frames are this many times the frame size (one of
    // kExportScales), with the same flag on a finer grid.
    std::int32_t ExportScale = 1;
    // zephyrix-cli's frame size; in the desktop program the flag window's size
    // is the frame size.
    std::int32_t FrameWidth = kDefaultFrameWidth;
    std::int32_t FrameHeight = kDefaultFrameHeight;
    // The GIF's lossy level (0 off) and its size limit (0 none), in KB as the
    // panel and the store keep it, or in bytes as --max-size gives it (which
    // clears the KB): the export's TSizeOptions.
    std::int32_t Lossy = 0;
    std::int32_t MaxSizeKB = 0;
    std::int32_t MaxSizeBytes = 0;
    // The WebP's lossy quality, and whether it is lossless instead.
    std::int32_t WebPQuality = kWebPQualityRange.Default;
    bool WebPLossless = false;
    // The text over the picture: the text dialog's settings and the lines.
    TTextOverlaySettings Text;

    friend bool operator==(const TSettings&, const TSettings&) = default;
};

enum class TSettingType {
    // A whole number within the range.
    Integer,
    // 0 or 1.
    Boolean,
    // A colour value 0x00BBGGRR.
    Color,
    // One of a few items, numbered from 0 (a radio group's item index).
    Choice,
    // A string (a font name, the lines of text).
    Text,
};

// Where the settings store keeps a setting: a group of the program's key,
// under the setting's name. Settings of no group are not kept.
enum class TSettingGroup { None, Settings, Text };

// What a change of the setting does to the flag's frames.
enum class TSettingEffect {
    // Nothing: the setting changes only what is saved.
    None,
    // The frames are invalidated.
    Rerender,
    // The lighting table is built again, then the frames are invalidated.
    Relight,
    // The frames are invalidated unless the background is transparent (a
    // colour that is not shown changes no frame).
    RerenderOpaque,
};

// The control that shows the setting on the panel (or in the text dialog). A
// radio group's items stand for the allowed values, in their order, where the
// setting has a set of them, otherwise for 0, 1, 2 ...
enum class TControlKind { None, Slider, CheckBox, RadioGroup, ColorChoice, IntegerEdit };

// The commands of zephyrix-cli, as a set.
enum TCliCommand : unsigned {
    kCliFrames = 1,
    kCliExport = 2,
    kCliEncode = 4,
    kCliConvert = 8,
};

// The help section an option is listed in; it also says which commands take
// the option: flag options frames and export, text options frames, export and
// convert, GIF options export and encode.
enum class TCliSection { None, Flag, Text, Gif };

// How the option's value is written on the command line.
enum class TCliForm {
    // "--name N": a decimal number (or what ParseNumber reads) within the
    // range and, where there is one, the set of allowed values.
    Number,
    // No value: each switch sets its own value ("--opaque", "--transparent").
    Switches,
    // "--name RRGGBB" in web order, a leading '#' allowed.
    Color,
    // "--name NAME", one of Names.
    Names,
    // "--name TEXT", any text.
    Text,
    // "--name A<Separator>B": this setting and its Partner, each within its
    // own range ("--spot X,Y", "--size WxH").
    Pair,
};

// Reads and writes a number-like setting's value in TSettings. Booleans travel
// as 0 and 1, colours as 0x00BBGGRR, choices as their item index.
struct TSettingValue {
    std::int32_t (*Get)(const TSettings&) = nullptr;
    void (*Set)(TSettings&, std::int32_t) = nullptr;
};

// The same for a text setting.
struct TSettingText {
    std::string (*Get)(const TSettings&) = nullptr;
    void (*Set)(TSettings&, const std::string&) = nullptr;
};

struct TCliSwitch {
    const char* Name = nullptr;
    std::int32_t Value = 0;
    const char* Help = nullptr;
    std::int32_t HelpRank = 0;
};

struct TCliName {
    const char* Name = nullptr;
    std::int32_t Value = 0;
};

struct TSettingPanel {
    TControlKind Kind = TControlKind::None;
    // The control's name, which is its object name ("FramesNiceScrollBar").
    const char* Control = nullptr;
    // A slider's label template ("帧数：<#Pos>"), a check box's text, a radio
    // group's or a colour chooser's caption.
    const char* Caption = nullptr;
    // A slider whose caption the program writes for every position ("循环：60").
    std::string (*CaptionOf)(std::int32_t position) = nullptr;
    // A slider's step for the arrow keys and the mouse.
    std::int32_t Step = 1;
    // A radio group's items, and whether they stand side by side (otherwise
    // one below the other).
    std::span<const char* const> Items {};
    // The items' disambiguation for their translation (ZX_TR_NOOP3), where
    // the same texts mean something else in another control; null: none.
    const char* ItemsMeaning = nullptr;
    bool SideBySide = false;
    // The control takes input only while this holds (the angle without radial
    // ripples); null: always.
    bool (*EnabledWhen)(const TSettings&) = nullptr;
};

struct TSettingCli {
    // Null: the setting has no option of its own.
    TCliSection Section = TCliSection::None;
    // The commands that take the option; 0 for those of its section.
    unsigned Commands = 0;
    // "--frames"; for Switches the switches' own names.
    const char* Option = nullptr;
    // What the help shows after the option ("N", "RRGGBB", "X,Y"); for Names
    // the names joined with '|'.
    const char* Metavar = nullptr;
    // The help text. "<min>", "<max>" and "<default>" are replaced with the
    // setting's range and default, "<min2>", "<max2>" and "<default2>" with
    // those of a Pair's partner; '\n' starts a new line.
    const char* Help = nullptr;
    // Options are listed in this order within their section.
    std::int32_t HelpRank = 0;
    TCliForm Form = TCliForm::Number;
    std::span<const TCliSwitch> Switches {};
    std::span<const TCliName> Names {};
    // The message for a name that is not one of Names: "<option>", "<value>"
    // and "<names>" (a|b|c) are replaced. Null: "<option>: "<value>" is not
    // one of <names>".
    const char* BadName = nullptr;
    // Pair: the separator and the setting that takes the second number.
    char Separator = 0;
    const char* Partner = nullptr;
    // Number: a syntax of its own (a size with K or M, say); returns the
    // number, which must then lie within the range, or throws EUsageError.
    std::int64_t (*ParseNumber)(const std::string& option, std::string_view text) = nullptr;
    // What the option also sets ("--background" makes the flag opaque).
    void (*Implies)(TSettings&) = nullptr;
    // Text: an empty value is refused with this message.
    const char* EmptyMessage = nullptr;
};

struct TSetting {
    // The setting's name, which is also its value name in the store.
    const char* Name = nullptr;
    TSettingType Type = TSettingType::Integer;
    // Integer, Choice: the range; Boolean 0..1; Color 0..0xFFFFFF. With the
    // default.
    TFlagRange Range {};
    TSettingValue Value {};
    TSettingText Text {};
    // A text setting's default.
    const char* DefaultText = nullptr;
    // The values allowed within the range; empty: all of them.
    std::span<const std::int32_t> Allowed {};
    TSettingGroup Group = TSettingGroup::None;
    TSettingEffect Effect = TSettingEffect::None;
    TSettingPanel Panel {};
    TSettingCli Cli {};

    bool Stored() const { return Group != TSettingGroup::None; }
    // Within the range and, where there is a set, one of the allowed values.
    bool Accepts(std::int32_t value) const;
    // The commands that take the option.
    unsigned Commands() const;
};

// The program's settings. The rows of each store group come in the order the
// store is read and written in.
std::span<const TSetting> SettingsTable();

// The row of that name, or nullptr.
const TSetting* FindSetting(std::span<const TSetting> table, std::string_view name);
const TSetting* FindSetting(std::string_view name);

// A value read from the store, taken as the setting's control takes it:
// numbers are brought into the range (a slider or a radio group clamps), a
// boolean is true when non-zero, and a colour outside 0..0xFFFFFF or a number
// that is not one of the allowed values leaves current as it is.
std::int32_t TakeStoredValue(const TSetting& setting, std::int32_t stored, std::int32_t current);

// What the export needs of the settings.
TExportOptions ExportOptionsOf(const TSettings& settings);
TSizeOptions SizeOptionsOf(const TSettings& settings);
// The WebP's quality and lossless choice.
TWebPOptions WebPOptionsOf(const TSettings& settings);

// A byte count as --max-size takes it: digits, optionally followed by K
// (1024 bytes) or M (1048576 bytes). Throws EUsageError naming the option
// for anything else.
std::int64_t ParseByteSize(const std::string& option, std::string_view text);

// The frames an export of these settings renders, FrameWidth x FrameHeight
// times ExportScale, are within kMaxRenderWidth x kMaxRenderHeight.
bool ExportSizeFits(const TSettings& settings);

} // namespace zx
