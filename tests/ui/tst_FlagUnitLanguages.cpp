// Every window of the program in both languages, as the program shows them:
// the panel with its menus, pages and status texts, the flag window, the text
// dialog, the colour dialog, the About box, the preview, the message boxes and
// Qt's own file dialogs. In English no text of any widget is Chinese, every
// caption fits its control and the access keys of a menu differ; in Chinese
// every caption is the program's own.

#include "TemporaryStore.h"
#include "UITestUtil.h"
#include "ui/controls/XAboutBoxComp.h"
#include "ui/controls/XAboutBoxUnit.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using namespace zx;

namespace {

bool HasCJK(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF)
            || (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

struct TShown {
    QString Where;
    QString Text;
};

QString PathOf(const QObject* object)
{
    QStringList names;
    for (; object; object = object->parent())
        names.prepend(object->objectName().isEmpty()
                ? QString::fromLatin1(object->metaObject()->className())
                : object->objectName());
    return names.join(QLatin1Char('/'));
}

// Every text a window and its widgets show: titles, labels, buttons, group
// boxes, tabs, menus and their actions, tool tips, the sliders' captions as
// they paint them, the colour choosers' captions, edits. The text dialog's font
// list shows the installed fonts' own names, which are no text of ours.
std::vector<TShown> ShownTexts(const QWidget& window)
{
    std::vector<TShown> shown;
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(const_cast<QWidget*>(&window));
    for (const QWidget* w : widgets) {
        const QString where = PathOf(w);
        const auto add = [&](const char* what, const QString& text) {
            if (!text.isEmpty())
                shown.push_back({ where + QLatin1Char(':') + QLatin1String(what), text });
        };
        if (w->isWindow())
            add("title", w->windowTitle());
        add("toolTip", w->toolTip());
        add("statusTip", w->statusTip());
        add("whatsThis", w->whatsThis());
        for (const QAction* action : w->actions()) {
            add("action", action->text());
            add("actionTip", action->toolTip());
        }
        if (const auto* label = qobject_cast<const QLabel*>(w))
            add("label", label->text());
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            add("button", button->text());
        if (const auto* group = qobject_cast<const QGroupBox*>(w))
            add("group", group->title());
        if (const auto* tabs = qobject_cast<const QTabWidget*>(w))
            for (int i = 0; i < tabs->count(); ++i) {
                add("tab", tabs->tabText(i));
                add("tabTip", tabs->tabToolTip(i));
            }
        if (const auto* menu = qobject_cast<const QMenu*>(w))
            add("menu", menu->title());
        if (const auto* slider = qobject_cast<const TNiceScrollBar*>(w))
            add("slider", slider->LabelText());
        if (const auto* choice = qobject_cast<const TColorChoice*>(w))
            add("colour", choice->Caption());
        if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
            add("edit", edit->text());
            add("placeholder", edit->placeholderText());
        }
        if (const auto* memo = qobject_cast<const QPlainTextEdit*>(w))
            add("placeholder", memo->placeholderText());
    }
    return shown;
}

QSet<QString> TextsOf(const std::vector<TShown>& shown)
{
    QSet<QString> texts;
    for (const TShown& s : shown)
        texts.insert(s.Text);
    return texts;
}

// The access key of a text, or a null character.
QChar AccessKey(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toLower();
        ++i;
    }
    return QChar();
}

// Runs command and does something with the modal window of type T it opens,
// then closes that window.
template <class T>
void WithModal(const std::function<void()>& command, const std::function<void(T&)>& inspect)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window)
            return;
        seen = true;
        inspect(*window);
        window->reject();
    });
    command();
    QVERIFY2(seen, T::staticMetaObject.className());
}

} // namespace

class tst_FlagUnitLanguages : public QObject {
    Q_OBJECT

    std::unique_ptr<TFlagForm> m_panel;
    TShowForm* m_show = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<TShown> m_shown;
    QStringList m_messages;

    void Add(const std::vector<TShown>& shown)
    {
        m_shown.insert(m_shown.end(), shown.begin(), shown.end());
    }

    // The panel and its windows in the language of locale, started in a
    // fresh folder, the flag's timer stopped.
    void StartPanel(const QLocale& locale)
    {
        InstallProgramLanguage(locale);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QDir::setCurrent(m_dir->path());
        m_panel = std::make_unique<TFlagForm>();
        m_show = new TShowForm(m_panel.get());
        m_panel->SetTextForm(new TTextForm(m_panel.get()));
        m_panel->SetPreviewForm(new TPreviewForm(m_panel.get()));
        m_panel->StartUp(m_show);
        test::Control<QTimer>(*m_panel, "FlagTimer")->stop();
    }

    // Opens every window in the language of locale and gathers what they show.
    void ShowEverything(const QLocale& locale)
    {
        m_shown.clear();
        m_messages.clear();
        StartPanel(locale);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));

        // The panel on each page, with the status of a frame being rendered
        // and then of the frame shown.
        auto* pages = test::Control<QTabWidget>(*m_panel, "PageControl");
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            Add(ShownTexts(*m_panel));
        }
        m_panel->FlagTimerTimer();
        Add(ShownTexts(*m_panel));
        m_panel->ShowFrameStatus();
        Add(ShownTexts(*m_panel));
        m_panel->FlagTimerTimer();
        m_panel->FlagTimerTimer();
        m_panel->ShowFrameStatus();
        Add(ShownTexts(*m_panel));
        Add(ShownTexts(*m_show));

        TTextForm& text = *m_panel->TextForm();
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        Add(ShownTexts(text));
        CheckFits(text);
        text.hide();

        TColorBoxForm colour;
        colour.show();
        QVERIFY(QTest::qWaitForWindowExposed(&colour));
        for (TColorBoxMode mode : { cmHue, cmSaturation, cmBrightness, cmRed, cmGreen, cmBlue }) {
            colour.SelectMode(mode);
            Add(ShownTexts(colour));
        }
        CheckFits(colour);
        colour.hide();

        TAboutBox::SetAboutBoxHook([this](TAboutBoxForm& form) {
            form.show();
            Add(ShownTexts(form));
            CheckFits(form);
            form.hide();
            return int(QDialog::Accepted);
        });
        m_panel->Info1Click();
        TAboutBox::SetAboutBoxHook({});

        TPreviewForm& preview = *m_panel->PreviewForm();
        preview.ModalRun = [this](TPreviewForm& form) {
            form.show();
            Add(ShownTexts(form));
            CheckFits(form);
            form.hide();
            return int(mrCancel);
        };
        m_panel->Preview1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());

        // The real warning box and Qt's own file dialogs, which the user
        // leaves with Cancel.
        QGuiApplication::clipboard()->clear();
        WithModal<QMessageBox>([this] { m_panel->Pasteimage1Click(); },
            [this](QMessageBox& box) { Add(ShownTexts(box)); });
        const auto filters = [this](const char* which, QFileDialog& dialog) {
            Add(ShownTexts(dialog));
            for (const QString& filter : dialog.nameFilters())
                m_shown.push_back({ QString::fromLatin1(which), filter });
        };
        WithModal<QFileDialog>([this] { m_panel->Open1Click(); },
            [&](QFileDialog& dialog) { filters("open filter", dialog); });
        WithModal<QFileDialog>([this] { m_panel->Save1Click(); },
            [&](QFileDialog& dialog) { filters("save filter", dialog); });

        // The error box of a picture that fails to load, and the warning of
        // an empty clipboard, as the message boxes get them.
        SetMessageBoxHook([this](const QString& title, const QString& message) {
            m_messages << title << message;
        });
        const QString bad = m_dir->filePath(QStringLiteral("bad.gif"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("GIF89a");
        file.close();
        m_panel->OpenPictureDialog = [bad] { return std::optional<QString>(bad); };
        m_panel->Open1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        m_panel->Pasteimage1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        SetMessageBoxHook({});
        QCOMPARE(m_messages.size(), 4);
        for (const QString& message : m_messages)
            m_shown.push_back({ QStringLiteral("message box"), message });
    }

    // Every caption of a window fits the room its control gives it (the
    // dialogs are laid out by hand, at the sizes the Chinese texts need).
    void CheckFits(const QWidget& window)
    {
        for (const QWidget* w : window.findChildren<QWidget*>()) {
            if (!w->isVisible())
                continue;
            QString text;
            int room = 0;
            int needed = -1;
            QStyleOptionButton option;
            option.initFrom(w);
            if (const auto* box = qobject_cast<const QCheckBox*>(w)) {
                text = box->text();
                room = w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w).width();
            } else if (const auto* radio = qobject_cast<const QRadioButton*>(w)) {
                text = radio->text();
                room = w->style()
                           ->subElementRect(QStyle::SE_RadioButtonContents, &option, w)
                           .width();
            } else if (const auto* push = qobject_cast<const QPushButton*>(w)) {
                text = push->text();
                room
                    = w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w).width();
            } else if (const auto* label = qobject_cast<const QLabel*>(w)) {
                if (label->wordWrap())
                    continue;
                text = label->text();
                room = label->contentsRect().width();
            } else if (const auto* choice = qobject_cast<const TColorChoice*>(w)) {
                // Written on the swatch, within its focus frame.
                text = choice->Caption();
                room = choice->Display()->width();
                TDIB scratch;
                scratch.SetSize(1, 1, 24);
                TDIBCanvas canvas(scratch);
                FitSwatchCaption(canvas, text, room);
                needed = canvas.TextExtent(text).width();
                room -= 4;
            } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
                // The title stands between the frame's corners.
                text = group->title();
                room = group->width() - 16;
            }
            if (text.isEmpty())
                continue;
            text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
            if (needed < 0)
                for (const QString& line : text.split(QLatin1Char('\n')))
                    needed = std::max(needed, w->fontMetrics().horizontalAdvance(line));
            // One pixel is allowed: the colour dialog's "H:" overhangs its
            // button's contents by one in both languages, as the dialog has
            // always been laid out.
            QVERIFY2(needed <= room + 1,
                qPrintable(PathOf(w) + QStringLiteral(": ") + text + QStringLiteral(" needs ")
                    + QString::number(needed) + QStringLiteral(" of ") + QString::number(room)));
        }
    }

private slots:
    void initTestCase() { InitializeApplication(); }

    void cleanup()
    {
        m_panel.reset();
        m_show = nullptr;
        SetMessageBoxHook({});
        InstallProgramLanguage(QLocale(QLocale::Chinese, QLocale::China));
        QDir::setCurrent(QCoreApplication::applicationDirPath());
    }

    void englishShowsNoChinese()
    {
        ShowEverything(QLocale(QLocale::English, QLocale::UnitedStates));
        if (QTest::currentTestFailed())
            return;
        QVERIFY(m_shown.size() > 150);
        QStringList chinese;
        for (const TShown& shown : m_shown)
            if (HasCJK(shown.Text))
                chinese << shown.Where + QStringLiteral(": ") + shown.Text;
        QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(QLatin1Char('\n'))));

        const QSet<QString> texts = TextsOf(m_shown);
        for (const char* expected :
            { "&File", "&Open...", "&Save...", "Pre&view", "&Quit", "&Edit", "&Paste picture",
                "&Text...", "&About", "&Information...", "Animation", "Flag", "Bumps", "Light",
                "Background", "GIF", "Pause", "Frames: 8", "Distance: 0", "Amplitude: 50%",
                "Frequency: 50", "Angle: 15", "Intensity: 25%", "Frequency: 25", "Brightness: 100%",
                "Contrast: 50%", "Delay: 50 ms", "Loops: endless", "Colours: 256 (8 bits)",
                "Antialiasing", "Off (fast)", "2x2", "4x4 (slow)", "Radial ripples", "Hoist",
                "None", "Left", "Right", "Top", "Bottom", "Hoist width: 30%", "Show pole",
                "Invert light", "Transparent", "Colour", "High quality",
                "These options only affect saved files: delay, loops and the size limit apply to "
                "GIF, WebP and APNG, WebP quality and WebP lossless to WebP only, the others to "
                "GIF only.",
                "WebP quality: 90", "WebP lossless", "Rendering frame #1", "Showing frame #1",
                "Text", "Font", "Preview", "Options", "Size: 30%", "Angle: 0", "Shadow: 25%",
                "Horizontal", "Vertical", "L", "C", "R", "T", "B", "OK", "Cancel", "Values (Hue)",
                "Values (Blue)", "About Zephyrix", "Version 1.05 - 11 December 1999",
                "Let every picture wave in the wind.", "GIF Preview", "&Cancel",
                "Premature end of data", "Warning", "The clipboard is empty!", "Open", "Save As",
                "GIF image (*.gif)", "WebP animation (*.webp)", "APNG animation (*.png)",
                "All supported formats (*.bmp *.jpg *.jpeg *.jpe *.gif *.png *.webp *.svg)",
                "Bitmap files (*.bmp)", "Look in:" })
            QVERIFY2(texts.contains(QString::fromUtf8(expected)), expected);
        QVERIFY(std::any_of(m_shown.begin(), m_shown.end(), [](const TShown& s) {
            return s.Text.contains(QLatin1String(" pixels x 256 colours x 8 frames"));
        }));

        // The menu bar and each menu reach their items by distinct keys.
        for (const QMenuBar* bar : m_panel->findChildren<QMenuBar*>()) {
            QSet<QChar> keys;
            for (const QAction* action : bar->actions()) {
                const QChar key = AccessKey(action->text());
                QVERIFY2(!key.isNull() && !keys.contains(key), qPrintable(action->text()));
                keys.insert(key);
                if (!action->menu())
                    continue;
                QSet<QChar> itemKeys;
                for (const QAction* item : action->menu()->actions()) {
                    if (item->isSeparator())
                        continue;
                    const QChar itemKey = AccessKey(item->text());
                    QVERIFY2(
                        !itemKey.isNull() && !itemKeys.contains(itemKey), qPrintable(item->text()));
                    itemKeys.insert(itemKey);
                }
            }
        }
        CheckFits(*m_panel);
    }

    // The preview's status counts the frames in the language's singular or
    // plural.
    void englishCountsOneFrameAndMany()
    {
        StartPanel(QLocale(QLocale::English, QLocale::UnitedStates));
        if (QTest::currentTestFailed())
            return;
        QString status;
        m_panel->PreviewForm()->ModalRun = [&](TPreviewForm& form) {
            status = form.StatusText();
            return int(mrCancel);
        };
        auto* slider = test::Control<TNiceScrollBar>(*m_panel, "FramesNiceScrollBar");
        slider->setFocus();
        const auto previewOf = [&](int frames) {
            while (slider->Position() != frames)
                QTest::keyClick(slider, slider->Position() > frames ? Qt::Key_Left : Qt::Key_Right);
            status.clear();
            m_panel->Preview1Click();
            return m_panel->Work().WaitUntilIdle() ? status : QStringLiteral("(busy)");
        };
        const QString one = previewOf(1);
        QVERIFY2(one.contains(QStringLiteral(" colours x 1 frame x ")), qPrintable(one));
        const QString two = previewOf(2);
        QVERIFY2(two.contains(QStringLiteral(" colours x 2 frames x ")), qPrintable(two));
    }

    // The About box shows the version in the user's language, but the install
    // record keeps the program's own text: another language is no new version.
    void aChangeOfLanguageIsNoNewVersion()
    {
        test::TTemporaryStore store;
        QVERIFY(store.IsValid());
        QStringList versions;
        TAboutBox::SetAboutBoxHook([&](TAboutBoxForm& form) {
            versions << form.VersionLabel->text();
            return int(QDialog::Accepted);
        });
        const auto start = [](const QLocale& locale) {
            InstallProgramLanguage(locale);
            TFlagForm panel(nullptr, TPanelStart::ProgramStart);
        };
        // The first two starts show the box (the first writes no record).
        start(QLocale(QLocale::English, QLocale::UnitedStates));
        start(QLocale(QLocale::English, QLocale::UnitedStates));
        start(QLocale(QLocale::Chinese, QLocale::China));
        start(QLocale(QLocale::German, QLocale::Germany));
        TAboutBox::SetAboutBoxHook({});
        QCOMPARE(versions, QStringList(2, QStringLiteral("Version 1.05 - 11 December 1999")));
    }

    void chineseShowsTheProgramsOwnCaptions()
    {
        ShowEverything(QLocale(QLocale::Chinese, QLocale::China));
        if (QTest::currentTestFailed())
            return;
        const QSet<QString> texts = TextsOf(m_shown);
        for (const char* expected : { "文件(&F)", "打开(&O)...", "保存(&S)...", "预览", "退出(&Q)",
                 "编辑", "粘贴图片(&P)", "文本(&T)...", "关于(&A)", "信息(&I)...", "动画", "旗帜",
                 "抖动", "光线", "背景", "GIF", "暂停", "帧数：8", "距离：0", "振幅：50%",
                 "频率：50", "角度：15", "强度：25%", "频率：25", "亮度：100%", "对比度：50%",
                 "延迟：50 毫秒", "循环：连续不断", "颜色：256 (8 位)", "反锯齿", "禁止 (快速)",
                 "2x2", "4x4 (缓慢)", "辐射波纹", "反转亮度", "透明", "颜色", "高质量",
                 "这些选项仅对保存的文件有效：延迟、循环和最大文件大小适用于 GIF、WebP 和 "
                 "APNG，WebP 质量和 WebP 无损仅适用于 WebP，其余选项仅适用于 GIF。",
                 "WebP 质量: 90", "WebP 无损", "正在渲染 帧 #1", "正在显示的帧序号 #1", "文本",
                 "字体", "选项", "尺寸：30%", "角度：0", "投影深度：25%", "水平对齐", "左", "中",
                 "右", "垂直调整", "顶", "底", "确定", "取消", "函数值 (色调)", "函数值 (蓝色)",
                 "关于 Zephyrix", "版本 1.05 - 1999 年 12 月 11 日", "让每一幅图片都迎风飘扬。",
                 "GIF 预览", "文件", "保存...", "过早的数据末端", "警告", "剪贴板为空！", "打开",
                 "另存为", "GIF 图像 (*.gif)",
                 "所有可支持的格式 (*.bmp *.jpg *.jpeg *.jpe *.gif *.png *.webp *.svg)",
                 "位图文件 (*.bmp)", "查找范围：", "文件名称(&N)：" })
            QVERIFY2(texts.contains(QString::fromUtf8(expected)), expected);
        // No English caption of the translation slipped in.
        for (const char* english : { "&File", "Pause", "Frames: 8", "OK", "Loops: endless" })
            QVERIFY2(!texts.contains(QString::fromUtf8(english)), english);
    }
};

QTEST_MAIN(tst_FlagUnitLanguages)

#include "tst_FlagUnitLanguages.moc"
