// The panel's side of the preview: the GIF is built as for saving, shown in
// the preview window, and written only when the user chooses "保存..." there
// and then names a file.

#include "core/gif/XGIFUnit.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XWaitCursor.h"
#include "ui/flag/FlagUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XFilmDisplayComp.h"
#include "ui/gif/XGIFPainter.h"

#include <cassert>

namespace zx {

void TFlagForm::Preview1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] { ExportAnimation(true); });
}

void TFlagForm::PreviewAnimation()
{
    assert(m_previewForm);
    if (!m_previewForm)
        return;
    TPreviewForm& form = *m_previewForm;

    std::shared_ptr<TGIFImage> gif;
    {
        const TWaitCursor wait;
        gif = BuildAnimation();
    }
    // The window lets go of the GIF before it is released, however the
    // preview ends: the strip refers to the frames' bitmaps, and the picture
    // must stop its animation first.
    const auto detach = [&form] {
        form.PreviewImage->SetPicture(nullptr);
        form.GIFFilmDisplay->ClearItems();
    };
    struct TDetach {
        const decltype(detach)& Detach;
        ~TDetach() { Detach(); }
    } detachOnExit { detach };

    {
        const TWaitCursor wait;
        form.SetPaneClientWidth(gif->Width());
        form.SetImageSize(gif->Width(), gif->Height());
        form.PreviewImage->SetPicture(gif);
        for (std::int32_t i = 0; i < gif->Images().Count(); ++i)
            form.GIFFilmDisplay->AddItem(&gif->FrameBitmap(i));
        form.SetStatusText(tr("%1 x %2 像素 x %3 颜色 x %4 帧")
                               .arg(gif->Width())
                               .arg(gif->Height())
                               .arg(1 << gif->BitsPerPixel())
                               .arg(gif->Images().Count()));
    }
    const int result = form.ShowModal();
    detach();
    if (result != mrOk)
        return;

    const std::optional<QString> fileName = GIFSaveDialog();
    if (!fileName)
        return;
    const TWaitCursor wait;
    WriteAnimation(*gif, *fileName);
}

} // namespace zx
