#include "cli/CliSettings.h"

#include "cli/CliFlagOptions.h"

#if ZX_CLI_SETTINGS
#include "ui/flag/FlagSettingsStore.h"
#endif

namespace zx::cli {

void LoadSavedSettings(FlagParameters& params)
{
#if ZX_CLI_SETTINGS
    // No saved settings at all is no error: the desktop program then starts
    // from its defaults too.
    ReadSavedFlagParameters(params);
#else
    static_cast<void>(params);
    throw EUsageError("--settings: this build reads no settings store (it has no QtCore)");
#endif
}

} // namespace zx::cli
