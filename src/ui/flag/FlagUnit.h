#pragma once

// TFlagForm: the control panel, the program's main window. It owns what the
// animation is made of: the flag parameters (its controls are their only copy),
// the texture, the lighting table, the 40 frame slots and the busy bits. Every
// user action becomes one of a few operations: load or replace the texture,
// rebuild the lighting table, invalidate the frames. Rendering is lazy: the
// 50 ms playback timer renders at most one stale frame per tick and shows the
// frames in the flag window (TShowForm).

#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/flag/XMagnetUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <QMainWindow>
#include <QMargins>
#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QPainter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;

namespace zx {

class TAboutBox;
class TGIFImage;
class TNiceScrollBar;
class TPreviewForm;
class TRadioGroup;
class TShowForm;
class TTextForm;
class TColorChoice;

// Set while a control panel exists.
extern bool PanelExists;

// The bits of BusyFlags; while any is set the timer renders nothing.
enum TBusyFlag : std::uint16_t {
    bfRecompute = 0x01, // InvalidateFrames runs
    bfHidden = 0x02, // the panel is hidden
    bfPaused = 0x04, // the pause box is ticked
    bfExporting = 0x10, // the GIF export runs
    bfDialog = 0x80, // a modal dialog opened from the menu is up
};

// The picture as loaded (Source) and the same with the text drawn on it
// (Prepared, 24 bits), and the picture's alpha plane as loaded (8 bits, empty
// for an opaque picture). The text is drawn on the colours only, so the
// flag keeps the picture's shape.
struct TTextureItem {
    TDIB Source;
    TDIB Prepared;
    TDIB Alpha;
};

// The open dialog's filter, display names and patterns alternating. The
// first entry lists every extension the loader reads (it recognises files by
// their content, so ".jpeg" and ".jpe" photos too), then one entry a format.
inline constexpr const char* sOpenPictureFilter
    = "所有可支持的格式|*.bmp;*.jpg;*.jpeg;*.jpe;*.gif;*.png;*.webp;*.svg|位图文件 (*.bmp)|*.bmp|"
      "JPegs (*.jpg)|*.jpg|GIFs (*.gif)|*.gif|PNGs (*.png)|*.png|WebPs (*.webp)|*.webp|SVGs "
      "(*.svg)|*.svg";
inline constexpr const char* sOpenPictureDefaultExt = "bmp";
inline constexpr const char* sClipboardEmpty = "剪贴板为空！";

// The application's names ("Zephyrix" is its title, the settings live under
// the organisation "Tarnwick") and its icon. The first start-up step.
void InitializeApplication();
// Whether making a panel runs the first-start check (run counter, install
// record, menu entry, About box). The program's panel does; panels made for
// tests and tools do not, so that no modal box comes up unasked.
enum class TPanelStart { Plain, ProgramStart };

// A filter of the form "name|patterns|name|patterns" as Qt's name filters
// ("name (patterns)"; a name that already shows its patterns keeps them).
QStringList QtNameFilters(const QString& filter);

class TFlagForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TFlagForm(QWidget* parent = nullptr, TPanelStart start = TPanelStart::Plain);
    ~TFlagForm() override;

    // The start-up steps after the windows exist: frame store, built-in
    // picture, playback state, placing the flag window, lighting table, the GIF
    // captions; then the panel is shown and the timer started.
    void StartUp(TShowForm* showForm);
    // The text dialog, created after the flag window; PrepareTexture draws its
    // text.
    void SetTextForm(TTextForm* textForm) { m_textForm = textForm; }
    TTextForm* TextForm() const { return m_textForm; }

    // --- the operations
    void InvalidateFrames();
    // Without a name the built-in picture. A picture that fails to load is
    // reported by the exception and leaves texture and frames as they were.
    void LoadTexture(const std::optional<QString>& fileName = std::nullopt);
    void PrepareTexture();
    void ClickNewFlag();
    void LightChanged();
    void BackColorChoiceChange();
    void LoopsNiceScrollBarChange();
    void BitsNiceScrollBarChange();

    // The flag settings as the controls hold them now, with the pin point.
    FlagParameters CurrentParameters() const;

    // --- playback
    void FlagTimerTimer();
    void ShowFrameStatus();
    // Paints the shown frame into the flag window now.
    void PaintFrame();
    // The body of PaintFrame, on the flag window's paint area of size area.
    void DrawFrame(QPainter& painter, const QRect& clip, const QSize& area);
    void PauseCheckBoxClick();
    void LeftSpeedButtonClick();
    void RightSpeedButtonClick();
    // A mouse press at (x, y) in the flag window's paint area.
    void FlagPaintBoxMouseDown(int x, int y);
    // The flag window changed its size.
    void FlagWindowResize();

    // --- the commands
    void Open1Click();
    void Save1Click();
    void Preview1Click();
    void Pasteimage1Click();
    void Edit1Click();
    void Text1Click();
    void Quit1Click();
    // The GIF export. Saving asks for the file name first, then builds and
    // writes; previewing builds, shows the preview window and writes only
    // when the user chooses to save there and names a file.
    void ExportAnimation(bool preview);
    // A picture file dropped on the panel or the flag window.
    void LoadDroppedFile(const QString& fileName);
    // False while a modal dialog is up, so a drop cannot interleave with it.
    bool AcceptsDrops() const;
    // Dragging a picture file over the panel or the flag window, and dropping it.
    void PictureDragEnter(QDragEnterEvent* event);
    void PictureDrop(QDropEvent* event);

    // --- settings, window placement, About box and first start
    // Reads the saved settings into the controls, the pin point, the current
    // directory and the window bounds; a missing group or value keeps what is
    // there.
    void LoadSettings();
    // Writes them back. Throws ERegistryException when the store cannot be
    // written.
    void SaveSettings();
    // Moves both windows fully onto the panel's screen, the panel first.
    void KeepWindowsOnScreen();
    // The move notifications of the panel and of the flag window.
    void FormMoved();
    void FlagWindowMoved();
    void FormClose();
    void Info1Click();
    // Run counter and install record; at a first start, a new version or a
    // moved program, the menu entry and the About box.
    void FirstStartCheck();

    // --- state, for the flag window and for tests
    TFrameStore& FrameStore() { return *m_frames; }
    const TFrameStore& FrameStore() const { return *m_frames; }
    TTextureItem* CurrentTexture() const;
    const TLightTable& LightTable() const { return m_lightTable; }
    const TFlagDerived& Derived() const { return m_derived; }
    std::uint16_t BusyFlags() const { return m_busyFlags; }
    void SetBusyBits(std::uint16_t bits) { m_busyFlags |= bits; }
    void ClearBusyBits(std::uint16_t bits) { m_busyFlags &= static_cast<std::uint16_t>(~bits); }
    std::uint16_t RenderCursor() const { return m_renderCursor; }
    std::int32_t ShownFrame() const { return m_shownFrame; }
    std::int32_t PinCountdown() const { return m_pinCountdown; }
    std::int32_t SpotX() const { return m_spotX; }
    std::int32_t SpotY() const { return m_spotY; }
    void SetSpot(std::int32_t x, std::int32_t y);
    std::int32_t LastTop() const { return m_lastTop; }
    std::int32_t LastLeft() const { return m_lastLeft; }
    TShowForm* ShowForm() const { return m_showForm; }
    QString StatusText() const;
    void SetStatusText(const QString& text);

    // --- the controls, named as the program knows them
    QTabWidget* PageControl = nullptr;
    TNiceScrollBar* FramesNiceScrollBar = nullptr;
    TNiceScrollBar* DistanceNiceScrollBar = nullptr;
    TRadioGroup* AntialiasRadioGroup = nullptr;
    TNiceScrollBar* HeightNiceScrollBar = nullptr;
    TNiceScrollBar* FrequencyNiceScrollBar = nullptr;
    TNiceScrollBar* AngleNiceScrollBar = nullptr;
    QCheckBox* RadialCheckBox = nullptr;
    TNiceScrollBar* BumpAmpNiceScrollBar = nullptr;
    TNiceScrollBar* BumpSizeNiceScrollBar = nullptr;
    TNiceScrollBar* BrightnessNiceScrollBar = nullptr;
    TNiceScrollBar* ContrastNiceScrollBar = nullptr;
    QCheckBox* SwapLightCheckBox = nullptr;
    QCheckBox* TransparentCheckBox = nullptr;
    TColorChoice* BackColorChoice = nullptr;
    TNiceScrollBar* DelayNiceScrollBar = nullptr;
    TNiceScrollBar* LoopsNiceScrollBar = nullptr;
    TNiceScrollBar* BitsNiceScrollBar = nullptr;
    // The export's second quality level (TExportQuality::High); it changes
    // only what is saved, not the flag on screen.
    QCheckBox* HighQualityCheckBox = nullptr;
    QLabel* GIFNoteLabel = nullptr;
    QCheckBox* PauseCheckBox = nullptr;
    QToolButton* LeftSpeedButton = nullptr;
    QToolButton* RightSpeedButton = nullptr;
    QStatusBar* MainStatusBar = nullptr;
    QTimer* FlagTimer = nullptr;

    QMenu* File1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Preview1 = nullptr;
    QAction* Quit1 = nullptr;
    QAction* Pasteimage1 = nullptr;
    QAction* Text1 = nullptr;
    QMenu* About1 = nullptr;
    QAction* Info1 = nullptr;
    TAboutBox* AboutBox = nullptr;

    // The file dialogs, replaceable so that tests can answer them. Each
    // returns the chosen file, or nothing when the user cancelled.
    using TFileDialog = std::function<std::optional<QString>()>;
    TFileDialog OpenPictureDialog;
    TFileDialog GIFSaveDialog;

    // The preview window, created at start-up after the flag window.
    TPreviewForm* PreviewForm = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void CreateMenus();
    TNiceScrollBar* AddSlider(QWidget* page, const QString& caption, TFlagRange range);
    void RenderSlot(std::uint16_t k, std::uint16_t phase);
    std::optional<QString> RunOpenPictureDialog();
    std::optional<QString> RunGIFSaveDialog();
    void CreateAboutBox();
    // Window placement: both windows to the given outer bounds, without the
    // snapping and following their moves would otherwise cause.
    void PlaceWindows(const TWindowLayout& layout);
    // The restored layout, snapped and on the screen, with the windows' true
    // outer sizes.
    void ApplyRestoredLayout();
    // Applies it again once the window system has put its frames round the
    // windows (before that, outer and inner bounds are the same).
    void SettleRestoredLayout();
    // The two halves of every export: the GIF built from the frames as the
    // controls ask, and the GIF written under a name.
    std::unique_ptr<TGIFImage> BuildAnimation();
    void WriteAnimation(const TGIFImage& gif, const QString& fileName);
    // The preview path of ExportAnimation.
    void PreviewAnimation();
    // Sets a busy bit for a command and clears it on every way out.
    class TBusyScope {
    public:
        TBusyScope(TFlagForm& form, std::uint16_t bit)
            : m_form(form)
            , m_bit(bit)
        {
            m_form.SetBusyBits(m_bit);
        }
        ~TBusyScope() { m_form.ClearBusyBits(m_bit); }
        TBusyScope(const TBusyScope&) = delete;
        TBusyScope& operator=(const TBusyScope&) = delete;

    private:
        TFlagForm& m_form;
        std::uint16_t m_bit;
    };

    std::unique_ptr<TFrameStore> m_frames;
    std::vector<std::unique_ptr<TTextureItem>> m_textureList;
    TLightTable m_lightTable {};
    TFlagDerived m_derived;
    std::uint16_t m_busyFlags = 0;
    std::uint16_t m_renderCursor = 0;
    std::int32_t m_shownFrame = 0;
    std::int32_t m_pinCountdown = 0;
    std::int32_t m_spotX = 0;
    std::int32_t m_spotY = 0;
    std::int32_t m_lastTop = 0;
    std::int32_t m_lastLeft = 0;
    TShowForm* m_showForm = nullptr;
    TTextForm* m_textForm = nullptr;
    QLabel* m_statusLabel = nullptr;
    // The layout restored at start-up, until both windows have their frames.
    struct TRestoredLayout {
        bool Pending = false;
        // Outer bounds as loaded.
        TWindowLayout Target;
        // The flag window's stored outer size, if there was one.
        std::optional<QSize> FlagOuterSize;
        // The frames the layout was last applied with.
        QMargins PanelFrame;
        QMargins FlagFrame;
    };
    TRestoredLayout m_restoredLayout;
    bool m_placingWindows = false;
};

} // namespace zx
