#pragma once

// TTextForm: the text dialog. One or more lines in a chosen font, size, colour,
// angle, alignment and shadow depth, with a live preview. The dialog only holds
// the settings; the text becomes part of the flag when the control panel
// prepares the texture, which draws it with RenderTextOverlay. There is no
// cancel: whatever the controls hold when the dialog closes is used.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XTextOverlay.h"

#include <QDialog>
#include <QString>

class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace zx {

class TColorChoice;
class TDIBImage;
class TNiceScrollBar;
class TRadioGroup;
class TSettingControls;

class TTextForm : public QDialog {
    Q_OBJECT

public:
    explicit TTextForm(QWidget* parent = nullptr);

    // The dialog's text, drawn onto a 24-bit picture (the prepared texture or
    // the preview).
    void RenderTextOverlay(TDIB& target) const;
    // The settings as the controls hold them.
    TTextOverlaySettings Settings() const;
    // Puts saved settings into the controls; the font name becomes
    // PreferredFontName (SelectPreferredFont selects it) and the lines stay.
    void ApplySettings(const TTextOverlaySettings& settings);
    // Redraws the preview picture and shows it.
    void RefreshPreview();
    // Selects the font list's entry equal to PreferredFontName's family (the
    // last equal one); without one the selection stays.
    void SelectPreferredFont();
    QString PreferredFontName;

    // The selected font family; empty when no font is installed.
    QString SelectedFontName() const;

    QListWidget* FontListBox = nullptr;
    TColorChoice* FontColorChoice = nullptr;
    TNiceScrollBar* SizeNiceScrollBar = nullptr;
    QPlainTextEdit* TextMemo = nullptr;
    TRadioGroup* AlignHRadioGroup = nullptr;
    TRadioGroup* AlignVRadioGroup = nullptr;
    TNiceScrollBar* AngleNiceScrollBar = nullptr;
    TNiceScrollBar* ShaddowNiceScrollBar = nullptr;
    TDIBImage* TextDIBImage = nullptr;
    QPushButton* BitBtn1 = nullptr;

    static constexpr int kPreviewWidth = 241;
    static constexpr int kPreviewHeight = 177;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The controls of the text's settings (all but the font list and the memo).
    TSettingControls* m_controls = nullptr;
};

} // namespace zx
