#include "cli/CliQtModule.h"

#include <dlfcn.h>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace zx::cli {

namespace {

    // In the build tree the module stands beside the executable; installed, it
    // is in the program's own library folder, found from the executable's
    // place, so an installation works wherever its prefix is. Both are
    // relative to the running file: no folder of the build is ever asked.
    std::filesystem::path ModuleFile()
    {
        std::error_code error;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        const std::filesystem::path folder
            = error ? std::filesystem::path(".") : self.parent_path();
        const std::filesystem::path beside = folder / ZX_QT_MODULE_NAME;
        const std::filesystem::path installed
            = (folder / ZX_QT_MODULE_INSTALL_FOLDER / ZX_QT_MODULE_NAME).lexically_normal();
        if (std::filesystem::is_regular_file(beside, error))
            return beside;
        if (std::filesystem::is_regular_file(installed, error))
            return installed;
        throw std::runtime_error("cannot load Qt: " ZX_QT_MODULE_NAME " is neither in "
            + folder.string() + " nor in " + installed.parent_path().string());
    }

    void* ModuleHandle()
    {
        static void* handle = [] {
            const std::filesystem::path module = ModuleFile();
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
