#include "ui/imaging/TextUnit.h"

#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/XSettingControls.h"
#include "ui/imaging/XDIBCanvas.h"
#include "ui/imaging/XDIBImageComp.h"
#include "ui/imaging/XTextOverlayDraw.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace zx {

namespace {

    QFont PixelFont(const QString& family, int pixels)
    {
        QFont font(family);
        font.setPixelSize(pixels);
        return font;
    }

    QGroupBox* Group(QWidget* parent, const QString& caption, const QRect& bounds)
    {
        auto* group = new QGroupBox(caption, parent);
        group->setGeometry(bounds);
        auto* layout = new QVBoxLayout(group);
        layout->setContentsMargins(6, 4, 6, 6);
        layout->setSpacing(2);
        return group;
    }

} // namespace

TTextForm::TTextForm(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("文本"));
    setFont(PixelFont(QStringLiteral("宋体"), 12));
    setFixedSize(513, 345);

    QGroupBox* fontGroup = Group(this, tr("字体"), QRect(8, 6, 182, 160));
    FontListBox = new QListWidget(fontGroup);
    fontGroup->layout()->addWidget(FontListBox);

    // The text's settings, each control as the settings table describes it.
    m_controls = new TSettingControls(this);
    FontColorChoice = m_controls->MakeAs<TColorChoice>("FontColor", this);
    FontColorChoice->SetKind(ccVertical);
    FontColorChoice->SetBorderStyle(bsSingle);
    FontColorChoice->setGeometry(198, 14, 48, 152);

    QGroupBox* textGroup = Group(this, tr("文本"), QRect(8, 170, 238, 128));
    TextMemo = new QPlainTextEdit(textGroup);
    TextMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    TextMemo->setFont(PixelFont(QStringLiteral("宋体"), 13));
    QPalette white = TextMemo->palette();
    white.setColor(QPalette::Base, Qt::white);
    TextMemo->setPalette(white);
    textGroup->layout()->addWidget(TextMemo);

    SizeNiceScrollBar = m_controls->MakeAs<TNiceScrollBar>("FontSize", this);
    SizeNiceScrollBar->setGeometry(8, 304, 238, 34);

    QGroupBox* previewGroup = Group(this, tr("预览"), QRect(254, 6, 251, 204));
    TextDIBImage = new TDIBImage(previewGroup);
    TextDIBImage->setFixedSize(kPreviewWidth, kPreviewHeight);
    previewGroup->layout()->addWidget(TextDIBImage);
    TextDIBImage->DIB().SetSize(kPreviewWidth, kPreviewHeight, 24);

    AlignHRadioGroup = m_controls->MakeAs<TRadioGroup>("AlignHorizontal", this);
    AlignHRadioGroup->setGeometry(254, 212, 124, 44);
    AlignVRadioGroup = m_controls->MakeAs<TRadioGroup>("AlignVertical", this);
    AlignVRadioGroup->setGeometry(381, 212, 124, 44);

    QGroupBox* options = Group(this, tr("选项"), QRect(254, 258, 166, 82));
    AngleNiceScrollBar = m_controls->MakeAs<TNiceScrollBar>("FontAngle", options);
    ShaddowNiceScrollBar = m_controls->MakeAs<TNiceScrollBar>("FontShaddow", options);
    for (TNiceScrollBar* slider : { SizeNiceScrollBar, AngleNiceScrollBar, ShaddowNiceScrollBar })
        slider->setMinimumHeight(32);
    options->layout()->addWidget(AngleNiceScrollBar);
    options->layout()->addWidget(ShaddowNiceScrollBar);

    BitBtn1 = new QPushButton(tr("确定"), this);
    BitBtn1->setDefault(true);
    BitBtn1->setGeometry(428, 310, 77, 27);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    // The installed fonts in the platform's order, the first one selected.
    FontListBox->addItems(InstalledFontFamilies());
    if (FontListBox->count() > 0)
        FontListBox->setCurrentRow(0);

    const auto refresh = [this] { RefreshPreview(); };
    connect(FontListBox, &QListWidget::currentRowChanged, this, refresh);
    connect(m_controls, &TSettingControls::Changed, this, refresh);
    connect(TextMemo, &QPlainTextEdit::textChanged, this, refresh);
}

QString TTextForm::SelectedFontName() const
{
    const QListWidgetItem* item = FontListBox->currentItem();
    return item ? item->text() : QString();
}

TTextOverlaySettings TTextForm::Settings() const
{
    TSettings settings;
    m_controls->ReadAll(settings);
    settings.Text.Lines = SplitTextLines(TextMemo->toPlainText().toStdString());
    // With no font installed there is nothing to select; the toolkit's default
    // face stands in.
    settings.Text.FontName = SelectedFontName().toStdString();
    return settings.Text;
}

void TTextForm::ApplySettings(const TTextOverlaySettings& settings)
{
    PreferredFontName = QString::fromStdString(settings.FontName);
    TSettings shown;
    shown.Text = settings;
    m_controls->Show(shown);
}

void TTextForm::RenderTextOverlay(TDIB& target) const
{
    zx::RenderTextOverlay(target, Settings());
}

void TTextForm::RefreshPreview()
{
    TDIB& preview = TextDIBImage->DIB();
    const std::uint32_t background
        = TextPreviewBackground(FontColorChoice->Color(), ShaddowNiceScrollBar->Position());
    {
        TDIBCanvas canvas(preview);
        canvas.SetBrushColor(QColor(
            int(background & 0xFF), int((background >> 8) & 0xFF), int((background >> 16) & 0xFF)));
        canvas.FillRect(0, 0, preview.Width(), preview.Height());
    }
    RenderTextOverlay(preview);
    TextDIBImage->repaint();
}

void TTextForm::SelectPreferredFont()
{
    // A name saved with its foundry ("C059 [urw]") selects its family.
    const QString family = FontFamilyOf(PreferredFontName);
    for (int i = 0; i < FontListBox->count(); ++i)
        if (FontListBox->item(i)->text() == family)
            FontListBox->setCurrentRow(i);
}

void TTextForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred on the screen the dialog opens on.
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.left() + (area.width() - frameGeometry().width()) / 2,
            area.top() + (area.height() - frameGeometry().height()) / 2);
    }
    RefreshPreview();
}

} // namespace zx
