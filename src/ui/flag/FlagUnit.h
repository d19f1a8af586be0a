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
#include "core/imaging/XDIBUnit.h"

#include <QMainWindow>
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

class TNiceScrollBar;
class TRadioGroup;
class TShowForm;

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
// (Prepared, 24 bits).
struct TTextureItem {
    TDIB Source;
    TDIB Prepared;
};

// The open dialog's filter, display names and patterns alternating.
inline constexpr const char* sOpenPictureFilter
    = "所有可支持的格式|*.bmp;*.jpg;*.gif|位图文件 (*.bmp)|*.bmp|JPegs (*.jpg)|*.jpg|GIFs "
      "(*.gif)|*.gif";
inline constexpr const char* sOpenPictureDefaultExt = "bmp";
inline constexpr const char* sClipboardEmpty = "剪贴板为空！";

// The application's names ("Zephyrix" is its title, the settings live under
// the organisation "Tarnwick") and its icon. The first start-up step.
void InitializeApplication();

// A filter of the form "name|patterns|name|patterns" as Qt's name filters
// ("name (patterns)"; a name that already shows its patterns keeps them).
QStringList QtNameFilters(const QString& filter);

class TFlagForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TFlagForm(QWidget* parent = nullptr);
    ~TFlagForm() override;

    // The start-up steps after the windows exist: frame store, built-in
    // picture, playback state, placing the flag window, lighting table, the GIF
    // captions; then the panel is shown and the timer started.
    void StartUp(TShowForm* showForm);

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
    void Pasteimage1Click();
    void Edit1Click();
    void Quit1Click();
    // The save path of the export: file name, build, write.
    void ExportAnimation();
    // A picture file dropped on the panel or the flag window.
    void LoadDroppedFile(const QString& fileName);
    // False while a modal dialog is up, so a drop cannot interleave with it.
    bool AcceptsDrops() const;
    // Dragging a picture file over the panel or the flag window, and dropping it.
    void PictureDragEnter(QDragEnterEvent* event);
    void PictureDrop(QDropEvent* event);

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
    QAction* Quit1 = nullptr;
    QAction* Pasteimage1 = nullptr;

    // The file dialogs, replaceable so that tests can answer them. Each
    // returns the chosen file, or nothing when the user cancelled.
    using TFileDialog = std::function<std::optional<QString>()>;
    TFileDialog OpenPictureDialog;
    TFileDialog GIFSaveDialog;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void CreateMenus();
    TNiceScrollBar* AddSlider(QWidget* page, const QString& caption, TFlagRange range);
    void RenderSlot(std::uint16_t k, std::uint16_t phase);
    std::optional<QString> RunOpenPictureDialog();
    std::optional<QString> RunGIFSaveDialog();
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
    QLabel* m_statusLabel = nullptr;
};

} // namespace zx
