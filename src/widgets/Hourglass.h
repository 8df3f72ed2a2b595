#pragma once

#include <QCursor>
#include <QWidget>

// Commands that take time show the hourglass over their window and give the pointer back
// on every way out.
class Hourglass
{
public:
    explicit Hourglass(QWidget *widget)
        : m_window(widget ? widget->window() : nullptr)
    {
        if (!m_window)
            return;
        m_had = m_window->testAttribute(Qt::WA_SetCursor);
        m_cursor = m_window->cursor();
        m_window->setCursor(Qt::WaitCursor);
    }
    ~Hourglass()
    {
        if (!m_window)
            return;
        if (m_had)
            m_window->setCursor(m_cursor);
        else
            m_window->unsetCursor();
    }
    Hourglass(const Hourglass &) = delete;
    Hourglass &operator=(const Hourglass &) = delete;

private:
    QWidget *m_window;
    bool m_had = false;
    QCursor m_cursor;
};
