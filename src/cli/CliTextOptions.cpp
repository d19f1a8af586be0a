#include "cli/CliTextOptions.h"

#include "cli/CliFlagOptions.h"
#include "cli/CliTextModule.h"
#include "core/imaging/XImageFileUnit.h"

#include <dlfcn.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>
#include <vector>
namespace zx::cli {

namespace {

    // "line one\nline two": the two characters backslash and n separate lines.
    std::vector<std::string> SplitEscapedLines(const std::string& text)
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
        return lines;
    }

    template <typename T>
    T ParseChoice(const std::string& option, const std::string& value,
        std::initializer_list<std::pair<const char*, T>> choices)
    {
        std::string names;
        for (const auto& [name, result] : choices) {
            if (value == name)
                return result;
            names += names.empty() ? name : std::string("|") + name;
        }
        throw EUsageError(option + ": \"" + value + "\" is not one of " + names);
    }

    TFlagRange Range(TTextRange range)
    {
        return { range.Min, range.Max, range.Default };
    }

    // The text module beside the program (the same folder as the executable).
    ZxTextDrawFunction LoadTextModule()
    {
        static ZxTextDrawFunction draw = [] {
            std::error_code error;
            const std::filesystem::path self
                = std::filesystem::read_symlink("/proc/self/exe", error);
            const std::filesystem::path module
                = (error ? std::filesystem::path(".") : self.parent_path()) / ZX_TEXT_MODULE_NAME;
            void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle)
                throw std::runtime_error(std::string("cannot draw text: ") + ::dlerror());
            auto* function
                = reinterpret_cast<ZxTextDrawFunction>(::dlsym(handle, ZX_TEXT_DRAW_SYMBOL));
            if (!function)
                throw std::runtime_error(std::string("cannot draw text: ") + ::dlerror());
            return function;
        }();
        return draw;
    }

} // namespace

std::size_t ParseTextOption(
    std::span<const std::string> args, std::size_t index, TTextOverlaySettings& text)
{
    const std::string& arg = args[index];
    const std::string name = arg.substr(0, arg.find('='));
    std::size_t used = 0;
    if (name == "--text") {
        text.Lines = SplitEscapedLines(OptionValue(args, index, name, used));
    } else if (name == "--font") {
        text.FontName = OptionValue(args, index, name, used);
        if (text.FontName.empty())
            throw EUsageError("--font needs a font family name");
    } else if (name == "--font-size") {
        text.Size
            = ParseIntValue(name, OptionValue(args, index, name, used), Range(kTextSizeRange));
    } else if (name == "--font-color") {
        text.Color = ParseColorValue(name, OptionValue(args, index, name, used));
    } else if (name == "--font-angle") {
        text.Angle
            = ParseIntValue(name, OptionValue(args, index, name, used), Range(kTextAngleRange));
    } else if (name == "--shadow") {
        text.Shadow
            = ParseIntValue(name, OptionValue(args, index, name, used), Range(kTextShadowRange));
    } else if (name == "--align-h") {
        text.AlignH = ParseChoice<TTextAlignH>(name, OptionValue(args, index, name, used),
            { { "left", taLeft }, { "center", taCenter }, { "right", taRight } });
    } else if (name == "--align-v") {
        text.AlignV = ParseChoice<TTextAlignV>(name, OptionValue(args, index, name, used),
            { { "top", taTop }, { "middle", taMiddle }, { "bottom", taBottom } });
    }
    return used;
}

std::string TextOptionsHelp()
{
    const auto range = [](TTextRange r) {
        return " (" + std::to_string(r.Min) + ".." + std::to_string(r.Max) + ", default "
            + std::to_string(r.Default) + ")";
    };
    return "Text options (the text is drawn on the picture before the flag is made):\n"
           "  --text TEXT             the text; the two characters \\n start a new line\n"
           "  --font NAME             an installed font family (default Arial, or the first\n"
           "                          installed family when Arial is not installed)\n"
           "  --font-size N           font height in % of the picture's width"
        + range(kTextSizeRange)
        + "\n"
          "  --font-color RRGGBB     text colour in web order (default 000000)\n"
          "  --font-angle N          rotation in degrees, anticlockwise"
        + range(kTextAngleRange)
        + "\n"
          "  --shadow N              depth of the blurred shadow, 0 for none"
        + range(kTextShadowRange)
        + "\n"
          "  --align-h left|center|right   horizontal alignment (default center)\n"
          "  --align-v top|middle|bottom   vertical alignment (default middle)\n";
}

void ApplyTextOverlay(TDIB& texture, const TTextOverlaySettings& text)
{
    if (!text.HasText())
        return;
    TDIB prepared;
    ImportBitmap(texture, prepared);
    std::vector<const char*> lines;
    for (const std::string& line : text.Lines)
        lines.push_back(line.c_str());
    // The default face is looked up by the module, which knows the fonts.
    const std::string font = text.FontName == kDefaultTextFont ? std::string() : text.FontName;
    char message[512] = {};
    ZxTextRequest request {};
    request.Lines = lines.data();
    request.LineCount = static_cast<int>(lines.size());
    request.FontName = font.c_str();
    request.Size = text.Size;
    request.Color = text.Color;
    request.Angle = text.Angle;
    request.Shadow = text.Shadow;
    request.AlignH = text.AlignH;
    request.AlignV = text.AlignV;
    request.Pixels = prepared.ScanLine(0);
    request.Width = prepared.Width();
    request.Height = prepared.Height();
    request.Stride = prepared.RowStep();
    request.Error = message;
    request.ErrorSize = sizeof message;
    switch (LoadTextModule()(&request)) {
    case kZxTextDrawn:
        texture = prepared;
        return;
    case kZxTextUnknownFont:
        throw EUsageError(message);
    default:
        throw std::runtime_error(message);
    }
}

} // namespace zx::cli
