#include "ui/TableActions.h"

#include "app/Version.h"
#include "scan/components/EchoControl.h"
#include "scan/components/ResultGrid.h"
#include "ui/ResultTableView.h"
#include "widgets/Hourglass.h"
#include "widgets/MessageBox.h"
#include "widgets/Twips.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace {

constexpr int RightButton = 2;

} // namespace

TableActions::TableActions(QWidget &window, ResultTableView &view, ResultGrid &table,
                           EchoControl &echo, QMenu &popup)
    : QObject(&window)
    , m_window(window)
    , m_view(view)
    , m_table(table)
    , m_echo(echo)
    , m_popup(popup)
{
    connect(&view, &ResultTableView::MouseDown, this, &TableActions::Table_MouseDown);
}

void TableActions::Table_MouseDown(int Button, int /*Shift*/, int X, int Y)
{
    ResultGrid &table = m_table;
    const qsizetype row = m_view.MouseRow();
    const int col = m_view.MouseCol();
    if (Button != RightButton || row <= 0 || row >= table.Rows() || col < 0)
        return;
    table.setRow(row);
    table.setCol(col);
    m_target = {row, col, table.cellText(row, 0)};
    const QPoint pixels(Twips::toPixels(m_view, X), Twips::toPixels(m_view, Y));
    m_popup.popup(m_view.mapToGlobal(pixels));
}

qsizetype TableActions::targetRow() const
{
    const ResultGrid &table = m_table;
    if (m_target.row < 1)
        return -1;
    // Rows only ever move up, by deletions above them.
    for (qsizetype row = std::min(m_target.row, table.Rows() - 1); row >= 1; --row) {
        if (table.cellText(row, 0) == m_target.address)
            return row;
    }
    return -1;
}

void TableActions::CopyPopup_Click()
{
    const qsizetype row = targetRow();
    if (row < 0)
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_table.cellText(row, m_target.col));
}

void TableActions::DeletePopup_Click()
{
    const qsizetype row = targetRow();
    if (row >= 0)
        m_table.RemoveItem(row);
}

void TableActions::ClearSelection_Click()
{
    m_table.setRows(1);
}

void TableActions::PingPopup_Click()
{
    if (targetRow() < 0)
        return;
    const QString address = m_target.address;
    EchoControl &echo = m_echo;
    {
        Hourglass wait(&m_window);
        echo.setEchoAsync(false);
        echo.setEchoTag(QStringLiteral("Interactive"));
        echo.SendEcho(address);
    }
    const QString title = QStringLiteral("PING ") + address;
    if (echo.EchoErrorNumber() == 0) {
        MessageBox::show(&m_window,
                         address + QStringLiteral(" responded in ") +
                             QString::number(echo.EchoRoundTrip()) +
                             QStringLiteral(" milliseconds"),
                         MessageBox::Icon::Information, QMessageBox::Ok, title);
    } else {
        MessageBox::show(&m_window,
                         QStringLiteral("Error # ") + QString::number(echo.EchoErrorNumber()) +
                             u'\n' + echo.EchoErrorText(),
                         MessageBox::Icon::Exclamation, QMessageBox::Ok, title);
    }
}

void TableActions::TelnetPopup_Click()
{
    if (targetRow() < 0)
        return;
    // An argument list, never a command line: the address reaches no shell. A failure to
    // start is not reported.
    QProcess::startDetached(QStringLiteral("x-terminal-emulator"),
                            {QStringLiteral("-e"), QStringLiteral("telnet"), m_target.address});
}

void TableActions::BrowsePopup_Click()
{
    if (targetRow() < 0)
        return;
    const QString address = m_target.address;
    Hourglass wait(&m_window);
    const QString companion = QStandardPaths::findExecutable(QStringLiteral("lumtrace"));
    if (companion.isEmpty()) {
        MessageBox::exclamation(&m_window, Version::companyName() +
                                               QStringLiteral(" Lumtrace is not installed\n") +
                                               QStringLiteral("Visit ") + Version::webSite() +
                                               QStringLiteral(" for a copy."));
        return;
    }
    QProcess::startDetached(companion, {address, QStringLiteral("255.255.255.255")});
}
