// The desktop program's settings file, as anyone may have written it (another
// version, an editor, a broken disk): the control panel starts with it,
// offscreen, shows it and writes it back when it closes.
//
// Input: the file's content, the INI text the settings store reads on Linux.
//
// Invariants: no crash; every setting the panel holds is one its control
// allows (within the range and, where there is a set, one of the allowed
// values), and its control shows exactly that; the panel closes without an
// error box; the file it wrote reads back, through the reader zephyrix-cli
// uses, to the settings the panel held.
//
// Everything happens below a temporary folder that the target makes itself
// (HOME, XDG_CONFIG_HOME, XDG_CONFIG_DIRS, XDG_DATA_HOME), never in the user's
// own settings.

#include "FuzzTarget.h"
#include "core/flag/FlagSettings.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XIntegerEditComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/FlagSettingsStore.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/imaging/TextUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

struct TWorld {
    std::unique_ptr<QApplication> Application;
    QString SettingsFile;
    int MessageBoxes = 0;
    long Inputs = 0;
};

TWorld& World()
{
    static TWorld world = [] {
        TWorld made;
        char folder[] = "/tmp/zephyrix-fuzz-settings-XXXXXX";
        ZX_FUZZ_CHECK(::mkdtemp(folder) != nullptr);
        const std::string root = folder;
        ::setenv("HOME", root.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root + "/system").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::mkdir((root + "/runtime").c_str(), 0700);
        static int argc = 1;
        static char name[] = "FuzzSettings";
        static char* argv[] = { name, nullptr };
        made.Application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        zx::InitializeApplication();
        const QString config = QString::fromStdString(root);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config + "/config");
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, config + "/system");
        QDir().mkpath(config + "/config/Tarnwick");
        made.SettingsFile = config + "/config/Tarnwick/Zephyrix.conf";
        return made;
    }();
    return world;
}

// The value the setting's control shows (a radio group of allowed values
// shows the value of its item), or nothing where the panel has no control of
// that name.
std::optional<std::int32_t> Shown(const zx::TFlagForm& panel, const zx::TSetting& setting)
{
    const char* name = setting.Panel.Control;
    if (auto* slider = panel.findChild<zx::TNiceScrollBar*>(name))
        return slider->Position();
    if (auto* box = panel.findChild<QCheckBox*>(name))
        return box->isChecked() ? 1 : 0;
    if (auto* group = panel.findChild<zx::TRadioGroup*>(name)) {
        const int item = group->ItemIndex();
        if (setting.Allowed.empty())
            return item;
        if (item < 0 || std::size_t(item) >= setting.Allowed.size())
            return std::nullopt;
        return setting.Allowed[std::size_t(item)];
    }
    if (auto* edit = panel.findChild<zx::TIntegerEdit*>(name))
        return edit->Value();
    if (auto* choice = panel.findChild<zx::TColorChoice*>(name))
        return std::int32_t(choice->Color());
    return std::nullopt;
}

} // namespace

// The application lives as long as the process and is never torn down, so
// what fontconfig keeps for it is still held when LeakSanitizer looks at the
// end; those caches are not leaks of ours. LeakSanitizer asks for this function
// when it starts; other builds never call it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TWorld& world = World();
    {
        QFile file(world.SettingsFile);
        ZX_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ZX_FUZZ_CHECK(
            file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    // The store keeps what it read while the file's time and size stay the
    // same; every input gets a time of its own, so it is read afresh.
    ++world.Inputs;
    const timespec times[2] = { { std::time_t(1000000000 + world.Inputs), 0 },
        { std::time_t(1000000000 + world.Inputs), 0 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(world.SettingsFile).constData(), times, 0);

    world.MessageBoxes = 0;
    zx::SetMessageBoxHook([&world](const QString&, const QString&) { ++world.MessageBoxes; });
    zx::TSettings held;
    {
        zx::TFlagForm panel;
        auto* flag = new zx::TShowForm(&panel);
        auto* text = new zx::TTextForm(&panel);
        panel.SetTextForm(text);
        panel.StartUp(flag);
        held = panel.Settings();
        // The text settings are the text dialog's own.
        held.Text = text->Settings();
        for (const zx::TSetting& setting : zx::SettingsTable()) {
            if (setting.Type == zx::TSettingType::Text || !setting.Value.Get)
                continue;
            const std::int32_t value = setting.Value.Get(held);
            if (!setting.Accepts(value)) {
                std::fprintf(stderr, "%s holds %d\n", setting.Name, value);
                ZX_FUZZ_CHECK(setting.Accepts(value));
            }
            if (setting.Panel.Control && setting.Group != zx::TSettingGroup::Text) {
                const std::optional<std::int32_t> shown = Shown(panel, setting);
                ZX_FUZZ_CHECK(shown.has_value());
                ZX_FUZZ_CHECK(*shown == value);
            }
        }
        ZX_FUZZ_CHECK(panel.close());
    }
    ZX_FUZZ_CHECK(world.MessageBoxes == 0);
    zx::SetMessageBoxHook({});

    // What was written comes back as the panel held it (the store's values are
    // read as the controls take them, so nothing may differ).
    zx::TSettings back;
    zx::ReadSavedSettings(back);
    for (const zx::TSetting& setting : zx::SettingsTable()) {
        if (!setting.Stored())
            continue;
        if (setting.Type == zx::TSettingType::Text) {
            if (setting.Text.Get && setting.Text.Get(back) != setting.Text.Get(held)) {
                std::fprintf(stderr, "%s came back changed\n", setting.Name);
                std::abort();
            }
            continue;
        }
        if (setting.Value.Get && setting.Value.Get(back) != setting.Value.Get(held)) {
            std::fprintf(stderr, "%s: held %d, read back %d\n", setting.Name,
                setting.Value.Get(held), setting.Value.Get(back));
            std::abort();
        }
    }
    return 0;
}
