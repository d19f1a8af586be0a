// zephyrix-cli-text.so: draws the text options' text for zephyrix-cli with Qt's
// offscreen platform.

#include "cli/CliTextModule.h"
#include "core/imaging/XDIBUnit.h"
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

void SetError(ZxTextRequest& request, const std::string& message)
{
    if (!request.Error || request.ErrorSize == 0)
        return;
    const std::size_t length = std::min(message.size(), request.ErrorSize - 1);
    std::memcpy(request.Error, message.data(), length);
    request.Error[length] = '\0';
}

} // namespace

extern "C" __attribute__((visibility("default"))) int zx_text_draw(ZxTextRequest* request)
{
    try {
        StartQt();
        zx::TTextOverlaySettings settings;
        for (int i = 0; i < request->LineCount; ++i)
            settings.Lines.emplace_back(request->Lines[i]);
        settings.FontName = request->FontName;
        settings.Size = request->Size;
        settings.Color = request->Color;
        settings.Angle = request->Angle;
        settings.Shadow = request->Shadow;
        settings.AlignH = static_cast<zx::TTextAlignH>(request->AlignH);
        settings.AlignV = static_cast<zx::TTextAlignV>(request->AlignV);

        const QStringList families = zx::InstalledFontFamilies();
        if (settings.FontName.empty()) {
            settings.FontName = zx::InitialTextFont(families).toStdString();
        } else if (!families.contains(QString::fromStdString(settings.FontName))) {
            SetError(
                *request, "--font: \"" + settings.FontName + "\" is not an installed font family");
            return kZxTextUnknownFont;
        }

        zx::TDIB picture;
        picture.SetSize(request->Width, request->Height, 24);
        const std::size_t rowBytes = std::size_t(request->Width) * 3;
        for (int y = 0; y < request->Height; ++y)
            std::memcpy(picture.ScanLine(y), request->Pixels + y * request->Stride, rowBytes);
        zx::RenderTextOverlay(picture, settings);
        for (int y = 0; y < request->Height; ++y)
            std::memcpy(request->Pixels + y * request->Stride, picture.ConstScanLine(y), rowBytes);
        return kZxTextDrawn;
    } catch (const std::exception& error) {
        SetError(*request, error.what());
        return kZxTextFailed;
    }
}
