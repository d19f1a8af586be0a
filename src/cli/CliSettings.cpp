#include "cli/CliSettings.h"

#include "cli/CliFlagOptions.h"
#include "cli/CliQtModule.h"

#include <cstring>
#include <stdexcept>

namespace zx::cli {

void LoadSavedSettings(FlagParameters& params, TCliText& text, bool& highQuality)
{
    // The store is read with the desktop program's own reader, in the Qt
    // module. No saved settings at all is no error: the desktop program then
    // starts from its defaults too.
    char message[512] = {};
    ZxSettingsRequest request {};
    request.Params = &params;
    request.HighQuality = highQuality ? 1 : 0;
    const TTextOverlaySettings& current = text.Settings;
    std::strncpy(request.FontName, current.FontName.c_str(), sizeof request.FontName - 1);
    request.Size = current.Size;
    request.Color = current.Color;
    request.Angle = current.Angle;
    request.Shadow = current.Shadow;
    request.AlignH = current.AlignH;
    request.AlignV = current.AlignV;
    request.Error = message;
    request.ErrorSize = sizeof message;
    if (ModuleSettingsRead()(&request) != kZxDone)
        throw std::runtime_error(std::string("--settings: ") + message);
    highQuality = request.HighQuality != 0;
    TTextOverlaySettings& saved = text.Settings;
    saved.FontName = request.FontName;
    saved.Size = request.Size;
    saved.Color = request.Color;
    saved.Angle = request.Angle;
    saved.Shadow = request.Shadow;
    saved.AlignH = static_cast<TTextAlignH>(request.AlignH);
    saved.AlignV = static_cast<TTextAlignV>(request.AlignV);
}

} // namespace zx::cli
