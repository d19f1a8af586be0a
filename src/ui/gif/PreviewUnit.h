#pragma once

// TPreviewForm: the preview window "GIF 预览". On the left the built GIF plays
// on a black pane as wide as the GIF; on the right its frames stand on a film
// strip that scrolls sideways; the status bar gives size, colours and frame
// count. The window is modal and ends with OK ("保存...") or Cancel ("取消",
// the close button, Escape). The control panel fills it for each preview and
// empties it afterwards; the window itself lives as long as the panel.
//
// The window's height follows the strip and is locked, so the user can only
// make it wider or narrower (not narrower than twice the left pane plus 40).

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QStatusBar;
class QWidget;

namespace zx {

class TFilmDisplay;
class TGIFImageControl;

// How a modal window ended.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };

class TPreviewForm : public QDialog {
    Q_OBJECT

public:
    explicit TPreviewForm(QWidget* parent = nullptr);
    ~TPreviewForm() override;

    // The size the window has before it is first shown.
    static constexpr int kDesignWidth = 425;
    static constexpr int kDesignHeight = 274;
    // The top of the picture: level with the frames on the strip, which sit
    // twice the strip's border below its top.
    static constexpr int kImageTop = 8;
    static constexpr int kStatusPanelWidth = 200;

    // Shows the window modally and returns mrOk or mrCancel. Runs through
    // ModalRun, which tests replace so that nothing blocks them.
    int ShowModal();
    using TModalRun = std::function<int(TPreviewForm& form)>;
    TModalRun ModalRun;
    // The real modal run.
    int ExecModal();

    // The left pane's client width and the picture's size, as a preview sets
    // them for its GIF.
    void SetPaneClientWidth(int width);
    void SetImageSize(int width, int height);
    QString StatusText() const;
    void SetStatusText(const QString& text);
    // The window's height while it is locked, 0 when unlocked.
    int HeightLock() const { return m_heightLock; }
    // The narrowest the user can make the window.
    int MinimumTrackWidth() const;

    // --- the handlers
    void FormShow();
    void FormResize();
    void Save1Click();
    void Cancel1Click();
    void GIFFilmDisplayChange();

    // --- the controls, named as the program knows them
    QScrollArea* PreviewScrollBox = nullptr;
    TGIFImageControl* PreviewImage = nullptr;
    QScrollArea* ScrollBox2 = nullptr;
    QScrollArea* FilmScrollBox = nullptr;
    TFilmDisplay* GIFFilmDisplay = nullptr;
    QStatusBar* PreviewStatusBar = nullptr;
    QMenuBar* MainMenu = nullptr;
    QMenu* File1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Cancel1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lock off, the strip box and the window sized to the strip, lock on.
    void FitHeights();
    void ApplySizeLimits();

    QWidget* m_paneContent = nullptr;
    QLabel* m_statusLabel = nullptr;
    int m_heightLock = 0;
    // The pane's client width asked for (0: none yet); the pane may be
    // narrower, to keep the window on the screen.
    int m_paneClientWidth = 0;
    int m_modalResult = mrNone;
    bool m_fitting = false;
};

} // namespace zx
