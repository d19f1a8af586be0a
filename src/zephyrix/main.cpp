// zephyrix: the desktop program. Creates the control panel, the flag window and
// the preview window and runs until the panel closes. A picture named on the
// command line (how the desktop's "Open with" hands over a file) is opened once
// the windows are up.

#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XShortcutUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XGIFPainter.h"
#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XDIBImageHandler.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    // The program places its two windows and keeps them together, which Wayland
    // does not let a program do: use X11 (XWayland on a Wayland desktop) unless
    // the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication application(argc, argv);
    zx::InitializeApplication();
    // An installed program's windows belong to its installation's menu entry,
    // whose icon and name the desktop then shows for them.
    if (zx::HasInstalledEntry(QApplication::applicationFilePath()))
        QApplication::setDesktopFileName(QLatin1String(zx::kDesktopEntryId));
    // The program speaks Chinese, or the user's language where it has a
    // translation, else English; so do the file dialogs and message boxes Qt
    // brings along. Before any window exists, since windows take their texts
    // when they are made.
    zx::InstallProgramLanguage();

    // The "dib" picture class, for as long as the program runs.
    const zx::TDIBPictureClassEntry dibEntry;

    zx::TFlagForm panel(nullptr, zx::TPanelStart::ProgramStart);
    auto* flagWindow = new zx::TShowForm(&panel);
    panel.SetTextForm(new zx::TTextForm(&panel));
    panel.SetPreviewForm(new zx::TPreviewForm(&panel));
    zx::UseProgramDrawOptions();
    panel.StartUp(flagWindow);
    // Qt has taken its own options out of the arguments by now.
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QLatin1Char('-')))
            continue;
        const QString picture = arguments[i];
        QTimer::singleShot(0, &panel, [&panel, picture] { panel.LoadDroppedFile(picture); });
        break;
    }
    return QApplication::exec();
}
