#include "cli/CliQtModule.h"

#include <dlfcn.h>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace zx::cli {

namespace {

    // The module stands beside the executable.
    void* ModuleHandle()
    {
        static void* handle = [] {
            std::error_code error;
            const std::filesystem::path self
                = std::filesystem::read_symlink("/proc/self/exe", error);
            const std::filesystem::path module
                = (error ? std::filesystem::path(".") : self.parent_path()) / ZX_QT_MODULE_NAME;
            void* opened = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!opened)
                throw std::runtime_error(std::string("cannot load Qt: ") + ::dlerror());
            return opened;
        }();
        return handle;
    }

    void* Symbol(const char* name)
    {
        void* symbol = ::dlsym(ModuleHandle(), name);
        if (!symbol)
            throw std::runtime_error(std::string("cannot load Qt: ") + ::dlerror());
        return symbol;
    }

} // namespace

ZxTextDrawFunction ModuleTextDraw()
{
    return reinterpret_cast<ZxTextDrawFunction>(Symbol(ZX_TEXT_DRAW_SYMBOL));
}

ZxSettingsReadFunction ModuleSettingsRead()
{
    return reinterpret_cast<ZxSettingsReadFunction>(Symbol(ZX_SETTINGS_READ_SYMBOL));
}

} // namespace zx::cli
