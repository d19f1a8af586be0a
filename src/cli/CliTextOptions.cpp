#include "cli/CliTextOptions.h"

#include "cli/CliQtModule.h"
#include "core/flag/FlagSettingsOptions.h"
#include "core/imaging/XImageFileUnit.h"

#include <stdexcept>

namespace zx::cli {

void ApplyTextOverlay(TDIB& texture, const TTextOverlaySettings& text, bool fontRequired)
{
    if (!text.HasText())
        return;
    TDIB prepared;
    ImportBitmap(texture, prepared);
    // The default face is looked up by the module, which knows the fonts.
    TTextOverlaySettings style = text;
    if (style.FontName == kDefaultTextFont)
        style.FontName.clear();
    char message[512] = {};
    ZxTextRequest request {};
    request.Text = &style;
    request.FontRequired = fontRequired ? 1 : 0;
    request.Pixels = prepared.ScanLine(0);
    request.Width = prepared.Width();
    request.Height = prepared.Height();
    request.Stride = prepared.RowStep();
    request.Error = message;
    request.ErrorSize = sizeof message;
    switch (ModuleTextDraw()(&request)) {
    case kZxDone:
        texture = prepared;
        return;
    case kZxUnknownFont:
        throw EUsageError(message);
    default:
        throw std::runtime_error(message);
    }
}

} // namespace zx::cli
