// A random user, seeded and reproducible: keys and shortcuts, clicks and drags
// anywhere in whichever window is in front (sliders, colour chart and strip,
// film strip, buttons, menus), the menu commands, the clipboard, dropped and
// opened files (good, damaged and hostile ones of every format), saves into
// good and impossible places, resizing and moving the windows, closing
// dialogs by every route, and quitting and starting again. It runs on the
// offscreen platform, in the sanitizer build too.
//
// What must hold: no crash, no sanitizer report, no stall of the event loop
// longer than the limit, and every GIF a save left behind decodes (giflib);
// no temporary file is left beside a target.
//
// Environment: ZX_MONKEY_SEED (default: a fixed seed; "random" draws one),
// ZX_MONKEY_ACTIONS (default 2500), ZX_MONKEY_SECONDS (run for so long
// instead, with a new seed a round), ZX_MONKEY_STALL_MS (default 2000; the
// test run raises it, see CMakeLists.txt), ZX_MONKEY_LOG (where the action list
// goes; default a file in the temporary folder). A failure prints the seed and
// the last actions; ZX_MONKEY_SEED=N with the same action count replays the
// sequence.

#include "UITestUtil.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XLinkComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XGIFPainter.h"
#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XDIBClipboardQt.h"
#include "ui/imaging/XDIBImageHandler.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <gif_lib.h>
#include <memory>
#include <random>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define ZX_MONKEY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZX_MONKEY_SANITIZED 1
#endif
#endif
#ifdef ZX_MONKEY_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

using namespace zx;

namespace {

std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The action list, written through as it grows (a crash leaves it whole) and
// kept in memory for the report.
class TActionLog {
public:
    void Open(const QString& path, std::uint64_t seed)
    {
        m_path = path;
        m_file = std::fopen(path.toLocal8Bit().constData(), "w");
        m_seed = seed;
        Write(QStringLiteral("seed %1").arg(seed));
    }
    ~TActionLog()
    {
        if (m_file)
            std::fclose(m_file);
    }
    void Write(const QString& line)
    {
        ++m_count;
        m_recent.push_back(line);
        if (m_recent.size() > 60)
            m_recent.pop_front();
        if (m_file) {
            std::fprintf(m_file, "%lld %s\n", static_cast<long long>(m_count), qPrintable(line));
            std::fflush(m_file);
        }
    }
    // The seed and the last actions, on stderr.
    void Report() const
    {
        std::fprintf(stderr, "\nmonkey: seed %llu, %lld lines, the whole list in %s; the last:\n",
            static_cast<unsigned long long>(m_seed), static_cast<long long>(m_count),
            qPrintable(m_path));
        for (const QString& line : m_recent)
            std::fprintf(stderr, "  %s\n", qPrintable(line));
        std::fprintf(
            stderr, "replay: ZX_MONKEY_SEED=%llu\n", static_cast<unsigned long long>(m_seed));
    }

private:
    std::FILE* m_file = nullptr;
    QString m_path;
    std::uint64_t m_seed = 0;
    std::int64_t m_count = 0;
    std::deque<QString> m_recent;
};

TActionLog* g_log = nullptr;

#ifdef ZX_MONKEY_SANITIZED
void ReportOnDeath()
{
    if (g_log)
        g_log->Report();
}
#endif

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback)
{
    bool ok = false;
    const std::uint64_t value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? value : fallback;
}

// Whether the GIF decodes with giflib and has at least one frame.
bool GifDecodes(const QString& path, QString* why)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &error);
    if (!gif) {
        *why = QStringLiteral("DGifOpenFileName: %1").arg(error);
        return false;
    }
    const int slurp = DGifSlurp(gif);
    const int frames = gif->ImageCount;
    const int slurpError = gif->Error;
    DGifCloseFile(gif, &error);
    if (slurp != GIF_OK || frames < 1) {
        *why = QStringLiteral("DGifSlurp: %1, %2 frames").arg(slurpError).arg(frames);
        return false;
    }
    return true;
}

// The user: one action a tick of a short timer, on the window in front. A
// modal dialog runs its own event loop inside an action, and the timer goes
// on ticking there, so actions nest; every pointer to a widget is guarded.
class TMonkey : public QObject {
public:
    TMonkey(
        std::uint64_t seed, std::int64_t actions, std::int64_t stallLimitMs, const QString& work)
        : m_rng(seed)
        , m_actionLimit(actions)
        , m_stallLimitMs(stallLimitMs)
        , m_work(work)
    {
        MakeFiles();
    }

    // Runs the whole sequence; returns the failures found (empty: none).
    QStringList Run()
    {
        StartSession();
        m_lastTick = NowMs();
        m_lastTickAtomic = m_lastTick;
        std::atomic<bool> running { true };
        // A hang (no tick for a minute) ends the run with the action list.
        std::thread watchdog([this, &running] {
            while (running) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                if (running && NowMs() - m_lastTickAtomic > 60000) {
                    std::fprintf(stderr, "monkey: no event for 60 s: a hang\n");
                    if (g_log)
                        g_log->Report();
                    std::abort();
                }
            }
        });
        ScheduleTick();
        m_loop.exec();
        running = false;
        watchdog.join();
        CheckOutputs(QStringLiteral("at the end"));
        EndSession();
        std::fprintf(stderr,
            "monkey: %lld actions, %d sessions, %d saves chosen, %d written, %d opens, "
            "longest gap between events %lld ms (after: %s)\n",
            static_cast<long long>(m_actions), m_sessions, m_savesChosen, m_savesWritten, m_opens,
            static_cast<long long>(m_longestGap), qPrintable(m_longestGapAfter));
        if (m_longestGap > m_stallLimitMs)
            m_failures << QStringLiteral("the event loop stalled %1 ms (limit %2) after: %3")
                              .arg(m_longestGap)
                              .arg(m_stallLimitMs)
                              .arg(m_longestGapAfter);
        return m_failures;
    }

private:
    // --- the program's windows, as the program makes them
    void StartSession()
    {
        ++m_sessions;
        Log(QStringLiteral("start the program"));
        m_panel = std::make_unique<TFlagForm>();
        m_show = new TShowForm(m_panel.get());
        m_panel->SetTextForm(new TTextForm(m_panel.get()));
        m_panel->SetPreviewForm(new TPreviewForm(m_panel.get()));
        m_panel->OpenPictureDialog = [this] { return ChooseOpen(); };
        m_panel->GIFSaveDialog = [this] { return ChooseSave(); };
        m_panel->StartUp(m_show);
    }
    void EndSession()
    {
        if (!m_panel)
            return;
        Log(QStringLiteral("quit the program"));
        if (m_panel->isVisible())
            m_panel->close();
        m_panel.reset();
        m_show = nullptr;
    }

    // --- the files the user opens and saves
    void MakeFiles()
    {
        QDirIterator it(
            QStringLiteral(ZX_TEST_DATA_DIR), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            m_pictures << it.next();
        m_pictures.sort();
        QDir(m_work).mkpath(QStringLiteral("in"));
        QDir(m_work).mkpath(QStringLiteral("out"));
        const QString in = m_work + QStringLiteral("/in/");
        // Damaged copies of real pictures: cut short and with bytes changed.
        for (int i = 0; i < 24 && !m_pictures.isEmpty(); ++i) {
            QFile source(m_pictures[Below(m_pictures.size())]);
            if (!source.open(QIODevice::ReadOnly))
                continue;
            QByteArray bytes = source.readAll();
            if (bytes.isEmpty())
                continue;
            const QString suffix = QFileInfo(source.fileName()).suffix();
            if (i % 2 == 0) {
                bytes.truncate(qsizetype(Below(bytes.size())));
            } else {
                for (int flips = 1 + Below(8); flips > 0; --flips)
                    bytes[qsizetype(Below(bytes.size()))] = char(Below(256));
            }
            WriteBytes(in + QStringLiteral("damaged-%1.%2").arg(i).arg(suffix), bytes);
        }
        // Hostile headers: sizes far beyond what anyone draws.
        QByteArray bmp(54, '\0');
        bmp[0] = 'B';
        bmp[1] = 'M';
        bmp[10] = 54;
        bmp[14] = 40;
        bmp[18] = char(0xA0); // 100000 x 100000
        bmp[19] = char(0x86);
        bmp[20] = 0x01;
        bmp[22] = char(0xA0);
        bmp[23] = char(0x86);
        bmp[24] = 0x01;
        bmp[26] = 1;
        bmp[28] = 24;
        WriteBytes(in + QStringLiteral("huge.bmp"), bmp);
        const char gif[] = "GIF89a\xff\xff\xff\xff\x80\x00\x00\x00\x00\x00\xff\xff\xff"
                           ",\x00\x00\x00\x00\xff\xff\xff\xff\x00\x02\x02\x44\x01\x00;";
        WriteBytes(in + QStringLiteral("huge.gif"), QByteArray(gif, sizeof gif - 1));
        WriteBytes(in + QStringLiteral("huge.svg"),
            "<svg xmlns='http://www.w3.org/2000/svg' width='1000000' height='1000000'>"
            "<rect width='100%' height='100%' fill='red'/></svg>");
        WriteBytes(in + QStringLiteral("empty.png"), QByteArray());
        WriteBytes(in + QStringLiteral("text.jpg"), "not a picture at all");
        QDir(in).mkpath(QStringLiteral("a-folder.png"));
        m_pictures << in + QStringLiteral("a-folder.png") << in + QStringLiteral("missing.gif");
        QDirIterator made(in, QDir::Files);
        while (made.hasNext())
            m_pictures << made.next();
        // A file where a save expects a folder.
        WriteBytes(m_work + QStringLiteral("/out/not-a-folder"), "x");
    }
    static void WriteBytes(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    std::optional<QString> ChooseOpen()
    {
        ++m_opens;
        if (Below(8) == 0) {
            Log(QStringLiteral("  open dialog: cancel"));
            return std::nullopt;
        }
        const QString file = m_pictures[Below(m_pictures.size())];
        Log(QStringLiteral("  open dialog: %1").arg(file));
        return file;
    }
    std::optional<QString> ChooseSave()
    {
        const QString out = m_work + QStringLiteral("/out/");
        const QString choices[] = {
            out + QStringLiteral("flag.gif"),
            out + QStringLiteral("flag.gif"),
            out + QStringLiteral("other.gif"),
            out + QStringLiteral("no-such-folder/flag.gif"),
            out + QStringLiteral("not-a-folder/flag.gif"),
            m_work + QStringLiteral("/out"),
            QString(),
        };
        const QString chosen = choices[Below(std::size(choices))];
        Log(QStringLiteral("  save dialog: %1")
                .arg(chosen.isEmpty() ? QStringLiteral("cancel") : chosen));
        if (chosen.isEmpty())
            return std::nullopt;
        ++m_savesChosen;
        m_saveTargets.insert(chosen);
        return chosen;
    }

    // Every GIF in the output folder decodes, and no temporary file is left.
    void CheckOutputs(const QString& when)
    {
        QDirIterator it(m_work + QStringLiteral("/out"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString name = QFileInfo(path).fileName();
            if (name == QLatin1String("not-a-folder"))
                continue;
            QString why;
            if (!name.endsWith(QLatin1String(".gif")))
                m_failures << QStringLiteral("%1: a file left behind: %2").arg(when, path);
            else if (!GifDecodes(path, &why))
                m_failures << QStringLiteral("%1: %2 does not decode (%3)").arg(when, path, why);
        }
    }
    // After a save at the top level: a target newer than before was written
    // and must decode.
    void CountWritten()
    {
        for (const QString& target : m_saveTargets) {
            const QFileInfo info(target);
            if (!info.isFile())
                continue;
            const QDateTime modified = info.lastModified();
            if (m_written.value(target) != modified) {
                m_written[target] = modified;
                ++m_savesWritten;
                QString why;
                if (!GifDecodes(target, &why))
                    m_failures << QStringLiteral("a save wrote %1, which does not decode (%2)")
                                      .arg(target, why);
            }
        }
    }

    // --- randomness
    std::uint32_t Below(std::size_t n) { return n == 0 ? 0 : std::uint32_t(m_rng() % n); }
    bool Chance(int percent) { return int(Below(100)) < percent; }
    QPoint PointIn(const QWidget* widget)
    {
        return QPoint(int(Below(std::size_t(std::max(1, widget->width())))),
            int(Below(std::size_t(std::max(1, widget->height())))));
    }
    void Log(const QString& line)
    {
        if (g_log)
            g_log->Write(QString(m_depth * 2, QLatin1Char(' ')) + line);
    }
    static QString Name(const QWidget* widget)
    {
        const QString name = widget->objectName();
        return QStringLiteral("%1%2%3").arg(QString::fromLatin1(widget->metaObject()->className()),
            name.isEmpty() ? QString() : QStringLiteral(" "), name);
    }

    // No save or dialog of the panel's is under way (pausing is a busy bit
    // too, and a paused panel is idle).
    bool Idle() const { return (m_panel->BusyFlags() & (bfExporting | bfDialog)) == 0; }

    // --- one tick
    // A timer does not fire again while its own slot runs a modal dialog's
    // loop, so each tick is a timer of its own, started before the action.
    void ScheduleTick()
    {
        QTimer::singleShot(1, this, [this] { Tick(); });
    }
    void Tick()
    {
        const std::int64_t now = NowMs();
        const std::int64_t gap = now - m_lastTick;
        if (gap > m_longestGap) {
            m_longestGap = gap;
            m_longestGapAfter = m_lastAction;
        }
        m_lastTick = now;
        m_lastTickAtomic = now;
        if (m_finished)
            return;
        ScheduleTick();
        if (now < m_idleUntil)
            return;
        ++m_depth;
        if (m_actions >= m_actionLimit)
            Finish();
        else
            Act();
        --m_depth;
        m_lastTick = NowMs();
        m_lastTickAtomic = m_lastTick;
    }

    // Closes what is open, innermost first, one a tick; at the top level ends
    // the run.
    void Finish()
    {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            Log(QStringLiteral("finish: close the menu"));
            popup->close();
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            Log(QStringLiteral("finish: close %1").arg(Name(dialog)));
            dialog->reject();
            return;
        }
        if (m_depth == 1 && m_panel && Idle()) {
            m_finished = true;
            m_loop.quit();
        }
    }

    void Act()
    {
        ++m_actions;
        // The program was quit: start it again, with the settings it saved.
        if (m_depth == 1 && (!m_panel || !m_panel->isVisible())) {
            m_panel.reset();
            CheckOutputs(QStringLiteral("after quitting"));
            StartSession();
            m_lastAction = QStringLiteral("start the program");
            return;
        }
        QWidget* front = QApplication::activePopupWidget();
        if (!front)
            front = QApplication::activeModalWidget();
        if (front)
            ActOnDialog(front);
        else
            ActOnWindows();
        if (m_depth == 1 && m_panel && Idle())
            CountWritten();
    }

    void ActOnDialog(QWidget* dialog)
    {
        const int roll = int(Below(100));
        QPointer<QWidget> guard(dialog);
        if (roll < 40) {
            ClickOrDrag(dialog);
        } else if (roll < 75) {
            PressKey(dialog->focusWidget() ? dialog->focusWidget() : dialog);
        } else if (roll < 85) {
            // Closed by every route: Escape, Enter, the close button, the code's own.
            const int route = int(Below(4));
            const char* names[] = { "Escape", "Enter", "close button", "accept" };
            Did(QStringLiteral("%1: %2").arg(Name(dialog), QLatin1String(names[route])));
            if (route == 0)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else if (route == 1)
                QTest::keyClick(
                    dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Return);
            else if (route == 2)
                dialog->close();
            else if (auto* d = qobject_cast<QDialog*>(dialog))
                d->accept();
        } else if (roll < 92 && dialog->isWindow() && !qobject_cast<QMenu*>(dialog)) {
            MoveOrResize(dialog);
        } else {
            Wait();
        }
    }

    void ActOnWindows()
    {
        QWidget* panel = m_panel.get();
        QWidget* window = (m_show && Chance(30)) ? static_cast<QWidget*>(m_show) : panel;
        const int roll = int(Below(100));
        if (roll < 30) {
            ClickOrDrag(window);
        } else if (roll < 50) {
            QWidget* focus = QApplication::focusWidget();
            PressKey(focus && focus->window() == window ? focus : window);
        } else if (roll < 58) {
            Shortcut();
        } else if (roll < 70) {
            Command();
        } else if (roll < 76) {
            SetClipboard();
        } else if (roll < 81) {
            Drop(window);
        } else if (roll < 88) {
            MoveOrResize(window);
        } else {
            Wait();
        }
    }

    void Did(const QString& what)
    {
        m_lastAction = what;
        Log(what);
    }

    // A click, a double click, a right click, the wheel or a drag with the left
    // button, somewhere on a visible control of the window.
    void ClickOrDrag(QWidget* window)
    {
        QList<QWidget*> targets { window };
        for (QWidget* child : window->findChildren<QWidget*>())
            if (child->isVisible() && child->isEnabled() && child->width() > 0
                && child->height() > 0)
                targets << child;
        QWidget* target = targets[Below(targets.size())];
        QPointer<QWidget> guard(target);
        const QPoint at = PointIn(target);
        const int kind = int(Below(10));
        if (kind < 4) {
            Did(QStringLiteral("click %1 at %2,%3").arg(Name(target)).arg(at.x()).arg(at.y()));
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, at);
        } else if (kind < 5) {
            Did(QStringLiteral("double click %1 at %2,%3")
                    .arg(Name(target))
                    .arg(at.x())
                    .arg(at.y()));
            QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, at);
        } else if (kind < 6) {
            Did(QStringLiteral("right click %1 at %2,%3")
                    .arg(Name(target))
                    .arg(at.x())
                    .arg(at.y()));
            QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, at);
        } else if (kind < 7) {
            const int delta = Chance(50) ? 120 : -120;
            Did(QStringLiteral("wheel %1 on %2").arg(delta).arg(Name(target)));
            QWheelEvent wheel(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(),
                QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &wheel);
        } else {
            const QPoint to = PointIn(target) + QPoint(int(Below(81)) - 40, int(Below(81)) - 40);
            Did(QStringLiteral("drag %1 from %2,%3 to %4,%5")
                    .arg(Name(target))
                    .arg(at.x())
                    .arg(at.y())
                    .arg(to.x())
                    .arg(to.y()));
            QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, at);
            for (int step = 1; step <= 4 && guard; ++step)
                QTest::mouseMove(target, at + (to - at) * step / 4);
            if (guard)
                QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, to);
        }
    }

    void PressKey(QWidget* target)
    {
        static const Qt::Key keys[] = { Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Left, Qt::Key_Right,
            Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End,
            Qt::Key_Space, Qt::Key_Return, Qt::Key_Escape, Qt::Key_Backspace, Qt::Key_Delete,
            Qt::Key_A, Qt::Key_Z, Qt::Key_0, Qt::Key_9, Qt::Key_Minus, Qt::Key_Plus, Qt::Key_F1 };
        const Qt::Key key = keys[Below(std::size(keys))];
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
        if (Chance(15))
            modifiers |= Qt::ShiftModifier;
        if (Chance(8))
            modifiers |= Qt::ControlModifier;
        Did(QStringLiteral("key %1 (modifiers %2) on %3")
                .arg(QKeySequence(key).toString())
                .arg(int(modifiers))
                .arg(Name(target)));
        if (key == Qt::Key_A && Chance(50)) {
            // Typing, as into the text dialog or a number field.
            QTest::keyClicks(target, QStringLiteral("7Az 9"));
            return;
        }
        QTest::keyClick(target, key, modifiers);
    }

    // The shortcuts and the menus' access keys, as typed on the panel.
    void Shortcut()
    {
        struct TShortcut {
            Qt::Key Key;
            Qt::KeyboardModifiers Modifiers;
        };
        static const TShortcut shortcuts[] = {
            { Qt::Key_O, Qt::ControlModifier },
            { Qt::Key_S, Qt::ControlModifier },
            { Qt::Key_V, Qt::ControlModifier },
            { Qt::Key_F, Qt::AltModifier },
            { Qt::Key_A, Qt::AltModifier },
            { Qt::Key_P, Qt::AltModifier },
            { Qt::Key_T, Qt::AltModifier },
            { Qt::Key_Q, Qt::ControlModifier },
        };
        const TShortcut& s = shortcuts[Below(std::size(shortcuts))];
        Did(QStringLiteral("shortcut %1").arg(QKeySequence(s.Modifiers | s.Key).toString()));
        QTest::keyClick(m_panel.get(), s.Key, s.Modifiers);
    }

    // A menu command, as chosen from its menu.
    void Command()
    {
        static const char* names[] = { "Open1", "Open1", "Save1", "Save1", "Preview1", "Preview1",
            "Pasteimage1", "Text1", "Info1", "Quit1" };
        const char* name = names[Below(std::size(names))];
        // Quitting is rare: starting again reads the settings it saved.
        if (std::string_view(name) == "Quit1" && !Chance(20))
            name = "Preview1";
        auto* action = m_panel->findChild<QAction*>(QLatin1String(name));
        if (!action)
            return;
        Did(QStringLiteral("menu %1").arg(QLatin1String(name)));
        action->trigger();
    }

    void SetClipboard()
    {
        QClipboard* clipboard = QGuiApplication::clipboard();
        const int kind = int(Below(4));
        if (kind == 0) {
            const int width = 1 + int(Below(200));
            const int height = 1 + int(Below(150));
            Did(QStringLiteral("copy a %1 x %2 picture").arg(width).arg(height));
            CopyPictureToClipboard(
                test::SolidPicture(width, height, qRgb(int(Below(256)), 90, 200)), clipboard);
        } else if (kind == 1) {
            Did(QStringLiteral("copy a text"));
            clipboard->setText(QStringLiteral("just words"));
        } else if (kind == 2) {
            Did(QStringLiteral("copy an image"));
            QImage image(int(1 + Below(300)), int(1 + Below(300)), QImage::Format_ARGB32);
            image.fill(QColor(20, 200, 40, int(Below(256))));
            clipboard->setImage(image);
        } else {
            Did(QStringLiteral("clear the clipboard"));
            clipboard->clear();
        }
    }

    // A file dragged from the file manager onto a window and dropped.
    void Drop(QWidget* window)
    {
        const QString file = m_pictures[Below(m_pictures.size())];
        Did(QStringLiteral("drop %1 on %2").arg(file, Name(window)));
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(file) });
        const QPoint at = PointIn(window);
        QPointer<QWidget> guard(window);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        if (!guard || !enter.isAccepted())
            return;
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
    }

    void MoveOrResize(QWidget* window)
    {
        if (Chance(50)) {
            const QPoint to(int(Below(900)) - 100, int(Below(700)) - 100);
            Did(QStringLiteral("move %1 to %2,%3").arg(Name(window)).arg(to.x()).arg(to.y()));
            window->move(to);
        } else {
            const QSize to(int(Below(700)), int(Below(500)));
            Did(QStringLiteral("resize %1 to %2 x %3")
                    .arg(Name(window))
                    .arg(to.width())
                    .arg(to.height()));
            window->resize(to);
        }
    }

    // The user looks: the playback timer runs for a while. The ticks go on
    // but do nothing until then, so waiting never nests actions.
    void Wait()
    {
        const int ms = 20 + int(Below(120));
        Did(QStringLiteral("wait %1 ms").arg(ms));
        m_idleUntil = NowMs() + ms;
    }

    std::mt19937_64 m_rng;
    std::int64_t m_actionLimit;
    std::int64_t m_stallLimitMs;
    QString m_work;
    QStringList m_pictures;
    std::unique_ptr<TFlagForm> m_panel;
    TShowForm* m_show = nullptr;
    QEventLoop m_loop;
    int m_depth = 0;
    bool m_finished = false;
    std::int64_t m_actions = 0;
    int m_sessions = 0;
    int m_savesChosen = 0;
    int m_savesWritten = 0;
    int m_opens = 0;
    QSet<QString> m_saveTargets;
    QHash<QString, QDateTime> m_written;
    std::int64_t m_lastTick = 0;
    std::int64_t m_idleUntil = 0;
    std::atomic<std::int64_t> m_lastTickAtomic { 0 };
    std::int64_t m_longestGap = 0;
    QString m_longestGapAfter;
    QString m_lastAction;
    QStringList m_failures;
};

} // namespace

class tst_Monkey : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitializeApplication();
        QApplication::setQuitOnLastWindowClosed(false);
        // Links open nothing; the message boxes are the real ones.
        TLink::SetUrlOpener([](const QString&) { return true; });
        UseProgramDrawOptions();
#ifdef ZX_MONKEY_SANITIZED
        __sanitizer_set_death_callback(ReportOnDeath);
#endif
    }

    void randomUser()
    {
        const TDIBPictureClassEntry dibEntry;
        const std::int64_t stallMs = std::int64_t(EnvNumber("ZX_MONKEY_STALL_MS", 2000));
        const std::uint64_t seconds = EnvNumber("ZX_MONKEY_SECONDS", 0);
        const bool randomSeed
            = qEnvironmentVariable("ZX_MONKEY_SEED") == QLatin1String("random") || seconds > 0;
        std::uint64_t seed = EnvNumber("ZX_MONKEY_SEED", 20261209);
        const std::int64_t actions = std::int64_t(EnvNumber("ZX_MONKEY_ACTIONS", 2500));
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        do {
            if (randomSeed)
                seed = std::random_device {}() ^ (std::uint64_t(std::random_device {}()) << 32);
            QTemporaryDir work;
            QVERIFY(work.isValid());
            TActionLog log;
            const QString logPath = qEnvironmentVariableIsSet("ZX_MONKEY_LOG")
                ? qEnvironmentVariable("ZX_MONKEY_LOG")
                : QDir::temp().filePath(QStringLiteral("zephyrix-monkey-%1.log").arg(seed));
            log.Open(logPath, seed);
            g_log = &log;
            TMonkey monkey(seed, actions, stallMs, work.path());
            const QStringList failures = monkey.Run();
            g_log = nullptr;
            if (!failures.isEmpty()) {
                log.Report();
                QFAIL(qPrintable(failures.join(QLatin1Char('\n'))));
            }
            ++rounds;
            QFile::remove(logPath);
        } while (seconds > 0 && std::uint64_t(clock.elapsed()) < seconds * 1000);
        std::fprintf(stderr, "monkey: %d rounds in %lld s\n", rounds,
            static_cast<long long>(clock.elapsed() / 1000));
    }
};

QTEST_MAIN(tst_Monkey)
#include "tst_Monkey.moc"
