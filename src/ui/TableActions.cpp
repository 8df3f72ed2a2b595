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
#include <functional>

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
    connect(&view, &ResultTableView::menuKeyPressed, this, &TableActions::Table_MenuKey);
    connect(&view, &ResultTableView::deleteKeyPressed, this, &TableActions::Table_DeleteKey);
    connect(&view, &ResultTableView::copyKeyPressed, this, &TableActions::Table_CopyKey);
}

void TableActions::Table_MouseDown(int Button, int /*Shift*/, int X, int Y)
{
    const qsizetype row = m_view.MouseRow();
    const int col = m_view.MouseCol();
    if (Button != RightButton || row <= 0 || row >= m_table.Rows() || col < 0)
        return;
    const QPoint pixels(Twips::toPixels(m_view, X), Twips::toPixels(m_view, Y));
    openMenu(row, col, m_view.mapToGlobal(pixels));
}

void TableActions::Table_MenuKey()
{
    const qsizetype row = m_view.currentTableRow();
    const int col = std::max(0, m_view.currentTableCol());
    if (row <= 0 || row >= m_table.Rows())
        return;
    m_view.scrollTo(m_view.currentIndex());
    // Below the cell's left end, where a click into it would have opened the menu.
    const QRect cell = m_view.cellRect(row, col);
    openMenu(row, col, m_view.viewport()->mapToGlobal(cell.bottomLeft()));
}

void TableActions::Table_DeleteKey()
{
    // Without a selection (the table just reached by Tab), the current row.
    QList<qsizetype> rows = m_view.selectedTableRows();
    if (rows.isEmpty() && m_view.currentTableRow() > 0)
        rows.append(m_view.currentTableRow());
    deleteRows(rows);
}

void TableActions::Table_CopyKey()
{
    const QList<qsizetype> selected = m_view.selectedTableRows();
    if (selected.size() > 1) {
        copyRows(selected);
        return;
    }
    const qsizetype row = m_view.currentTableRow();
    if (row <= 0)
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_table.cellText(row, std::max(0, m_view.currentTableCol())));
}

void TableActions::openMenu(qsizetype row, int col, const QPoint &global)
{
    m_table.setRow(row);
    m_table.setCol(col);
    m_target = {row, col, m_table.cellText(row, 0)};
    m_popup.popup(global);
}

QList<qsizetype> TableActions::rowsWithTarget(qsizetype row) const
{
    const QList<qsizetype> selected = m_view.selectedTableRows();
    return selected.size() > 1 && selected.contains(row) ? selected : QList<qsizetype>();
}

void TableActions::copyRows(const QList<qsizetype> &rows)
{
    // Tab-separated lines, as spreadsheets paste them; a tab or line break inside a cell
    // would split it.
    const auto cell = [this](qsizetype row, int col) {
        QString text = m_table.cellText(row, col);
        for (const QChar breaker : {u'\t', u'\r', u'\n'})
            text.replace(breaker, u' ');
        return text;
    };
    QString lines;
    for (const qsizetype row : rows) {
        for (int col = 0; col < m_table.Cols(); ++col) {
            if (col > 0)
                lines += u'\t';
            lines += cell(row, col);
        }
        lines += u'\n';
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(lines);
}

void TableActions::deleteRows(QList<qsizetype> rows)
{
    // From the bottom up, a run of neighbouring rows at a time, so the rows still to go keep
    // their numbers and a large selection goes in few steps.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (qsizetype at = 0; at < rows.size();) {
        qsizetype first = rows[at];
        qsizetype count = 1;
        while (at + count < rows.size() && rows[at + count] == first - 1) {
            --first;
            ++count;
        }
        m_table.removeTableRows(first, count);
        at += count;
    }
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
    if (const QList<qsizetype> rows = rowsWithTarget(row); !rows.isEmpty()) {
        copyRows(rows);
        return;
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_table.cellText(row, m_target.col));
}

void TableActions::DeletePopup_Click()
{
    const qsizetype row = targetRow();
    if (row < 0)
        return;
    if (const QList<qsizetype> rows = rowsWithTarget(row); !rows.isEmpty())
        deleteRows(rows);
    else
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
    // Without a terminal program, or without telnet for it to run, nothing would appear at
    // all: say what is missing, as Browse does.
    const QString terminal = QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator"));
    if (terminal.isEmpty()) {
        MessageBox::exclamation(&m_window, QStringLiteral("x-terminal-emulator is not installed\n"
                                                          "Telnet needs a terminal program to "
                                                          "run in."));
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("telnet")).isEmpty()) {
        MessageBox::exclamation(&m_window,
                                QStringLiteral("telnet is not installed\n"
                                               "Install the telnet package to use Telnet."));
        return;
    }
    // An argument list, never a command line: the address reaches no shell.
    QProcess process;
    process.setProgram(terminal);
    process.setArguments({QStringLiteral("-e"), QStringLiteral("telnet"), m_target.address});
    if (!process.startDetached())
        MessageBox::exclamation(&m_window, QStringLiteral("Telnet could not be started\n") +
                                               process.errorString());
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
