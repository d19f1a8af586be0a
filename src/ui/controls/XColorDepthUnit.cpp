#include "ui/controls/XColorDepthUnit.h"

#include <QGuiApplication>
#include <QScreen>

namespace zx {

namespace {

    std::int32_t g_depth = 0;

} // namespace

std::int32_t ScreenColorDepth()
{
    if (g_depth == 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        // Without a screen nothing is shown; assume a deep one.
        g_depth = screen ? screen->depth() : 32;
        if (g_depth <= 0)
            g_depth = 32;
    }
    return g_depth;
}

void SetScreenColorDepth(std::int32_t depth)
{
    g_depth = depth;
}

} // namespace zx
