// zephyrix-cli-qt.so: what zephyrix-cli does with Qt. It draws the text
// options' text with Qt's offscreen platform, and reads the desktop program's
// settings store (QtCore alone, no application object) for --settings.

#include "cli/CliQtModule.h"
#include "core/imaging/XDIBUnit.h"
#include "ui/flag/FlagSettingsStore.h"
#include "ui/imaging/XTextOverlayDraw.h"

#include <QGuiApplication>
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace {

void StartQt()
{
    if (QGuiApplication::instance())
        return;
    // Qt's own notes (about runtime folders and the like) would add lines to
    // stderr, where a failure is reported in one line.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 3;
    static char name[] = "zephyrix-cli";
    static char platformOption[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = { name, platformOption, platform, nullptr };
    static const std::unique_ptr<QGuiApplication> application
        = std::make_unique<QGuiApplication>(argc, argv);
}

void SetError(char* error, std::size_t size, const std::string& message)
{
    if (!error || size == 0)
        return;
    const std::size_t length = std::min(message.size(), size - 1);
    std::memcpy(error, message.data(), length);
    error[length] = '\0';
}

} // namespace

extern "C" __attribute__((visibility("default"))) int zx_text_draw(ZxTextRequest* request)
{
    try {
        StartQt();
        zx::TTextOverlaySettings settings = *request->Text;

        // A family, or one foundry's family as Qt names it ("C059 [urw]"),
        // which is drawn as it was asked for.
        const QStringList families = zx::InstalledFontFamilies();
        if (!families.contains(zx::FontFamilyOf(QString::fromStdString(settings.FontName)))) {
            if (request->FontRequired && !settings.FontName.empty()) {
                SetError(request->Error, request->ErrorSize,
                    "--font: \"" + settings.FontName + "\" is not an installed font family");
                return kZxUnknownFont;
            }
            settings.FontName = zx::InitialTextFont(families).toStdString();
        }

        zx::TDIB picture;
        picture.SetSize(request->Width, request->Height, 24);
        const std::size_t rowBytes = std::size_t(request->Width) * 3;
        for (int y = 0; y < request->Height; ++y)
            std::memcpy(picture.ScanLine(y), request->Pixels + y * request->Stride, rowBytes);
        zx::RenderTextOverlay(picture, settings);
        for (int y = 0; y < request->Height; ++y)
            std::memcpy(request->Pixels + y * request->Stride, picture.ConstScanLine(y), rowBytes);
        return kZxDone;
    } catch (const std::exception& error) {
        SetError(request->Error, request->ErrorSize, error.what());
        return kZxFailed;
    }
}

extern "C" __attribute__((visibility("default"))) int zx_settings_read(ZxSettingsRequest* request)
{
    try {
        zx::ReadSavedSettings(*request->Settings);
        return kZxDone;
    } catch (const std::exception& error) {
        SetError(request->Error, request->ErrorSize, error.what());
        return kZxFailed;
    }
}
