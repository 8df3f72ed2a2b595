#include "widgets/WindowPlacement.h"

#include "app/SettingsStore.h"
#include "app/Version.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

const QString Section = QStringLiteral("Window");

} // namespace

QRect WindowPlacement::availableArea(const QWidget *window)
{
    // The screen the window is on, or mostly on; the primary one when it is on none.
    const QWidget *top = window ? window->window() : nullptr;
    const QScreen *screen = top ? QGuiApplication::screenAt(top->geometry().center()) : nullptr;
    if (!screen && top && top->windowHandle() && top->isVisible())
        screen = top->windowHandle()->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QSize WindowPlacement::frameAllowance(const QWidget *window)
{
    const QWidget *top = window->window();
    if (top->isVisible()) {
        const QSize frame = top->frameGeometry().size() - top->geometry().size();
        if (frame.width() > 0 || frame.height() > 0)
            return frame;
    }
    // A title bar about twice the font's height, thin borders.
    const int line = QFontMetrics(top->font()).height();
    return {line / 2, 2 * line + line / 2};
}

QSize WindowPlacement::largestInnerSize(const QWidget *window)
{
    return (availableArea(window).size() - frameAllowance(window)).expandedTo(QSize(1, 1));
}

void WindowPlacement::fitOnScreen(QWidget *window, QSize wanted)
{
    window->resize(wanted.boundedTo(largestInnerSize(window)).expandedTo(window->minimumSize()));
    if (window->isVisible())
        keepOnScreen(window);
}

void WindowPlacement::keepOnScreen(QWidget *window)
{
    if (window->isMaximized() || window->isFullScreen())
        return;
    const QRect area = availableArea(window);
    const QSize frame = frameAllowance(window);
    const QSize inner = window->size().boundedTo(largestInnerSize(window));
    if (inner != window->size())
        window->resize(inner);
    QRect outer(window->frameGeometry().topLeft(), inner + frame);
    outer.moveLeft(std::clamp(outer.left(), area.left(), area.right() + 1 - outer.width()));
    outer.moveTop(std::clamp(outer.top(), area.top(), area.bottom() + 1 - outer.height()));
    if (outer.topLeft() != window->frameGeometry().topLeft())
        window->move(outer.topLeft());
}

void WindowPlacement::remember(const QWidget *window, const QString &name)
{
    SettingsStore::SaveSetting(Version::fileDescription(), Section, name,
                               QString::fromLatin1(window->saveGeometry().toBase64()));
}

bool WindowPlacement::restore(QWidget *window, const QString &name)
{
    const QString kept = SettingsStore::GetSetting(Version::fileDescription(), Section, name, {});
    if (kept.isEmpty())
        return false;
    if (!window->restoreGeometry(QByteArray::fromBase64(kept.toLatin1())))
        return false;
    // A screen may have gone since, or become smaller.
    keepOnScreen(window);
    return true;
}
