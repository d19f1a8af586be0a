#include "cli/CliSettings.h"

#include "cli/CliQtModule.h"

#include <stdexcept>
#include <string>

namespace zx::cli {

void LoadSavedSettings(TSettings& settings)
{
    // The store is read with the desktop program's own reader, in the Qt
    // module. No saved settings at all is no error: the desktop program then
    // starts from its defaults too.
    char message[512] = {};
    ZxSettingsRequest request {};
    request.Settings = &settings;
    request.Error = message;
    request.ErrorSize = sizeof message;
    if (ModuleSettingsRead()(&request) != kZxDone)
        throw std::runtime_error(std::string("--settings: ") + message);
}

} // namespace zx::cli
