#include "ui/TableActions.h"

#include "app/Version.h"
#include "scan/components/EchoControl.h"
#include "scan/components/ResultGrid.h"
#include "ui/Hourglass.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/ResultTableView.h"

#include <QAction>
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

TableActions::TableActions(MainForm &form)
    : QObject(&form)
    , m_form(form)
{
    connect(form.TableView, &ResultTableView::MouseDown, this, &TableActions::Table_MouseDown);
    connect(form.CopyPopup, &QAction::triggered, this, &TableActions::CopyPopup_Click);
    connect(form.DeletePopup, &QAction::triggered, this, &TableActions::DeletePopup_Click);
    connect(form.ClearSelection, &QAction::triggered, this, &TableActions::ClearSelection_Click);
    connect(form.PingPopup, &QAction::triggered, this, &TableActions::PingPopup_Click);
    connect(form.TelnetPopup, &QAction::triggered, this, &TableActions::TelnetPopup_Click);
    connect(form.BrowsePopup, &QAction::triggered, this, &TableActions::BrowsePopup_Click);
}

void TableActions::Table_MouseDown(int Button, int /*Shift*/, int X, int Y)
{
    ResultGrid &table = m_form.Table();
    const qsizetype row = m_form.TableView->MouseRow();
    const int col = m_form.TableView->MouseCol();
    if (Button != RightButton || row <= 0 || row >= table.Rows() || col < 0)
        return;
    table.setRow(row);
    table.setCol(col);
    m_target = {row, col, table.cellText(row, 0)};
    const QPoint pixels(m_form.twipsToPixels(X), m_form.twipsToPixels(Y));
    m_form.TablePopup->popup(m_form.TableView->mapToGlobal(pixels));
}

qsizetype TableActions::targetRow() const
{
    const ResultGrid &table = m_form.Table();
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
    clipboard->setText(m_form.Table().cellText(row, m_target.col));
}

void TableActions::DeletePopup_Click()
{
    const qsizetype row = targetRow();
    if (row >= 0)
        m_form.Table().RemoveItem(row);
}

void TableActions::ClearSelection_Click()
{
    m_form.Table().setRows(1);
}

void TableActions::PingPopup_Click()
{
    if (targetRow() < 0)
        return;
    const QString address = m_target.address;
    EchoControl &echo = m_form.ICMP();
    {
        Hourglass wait(&m_form);
        echo.setEchoAsync(false);
        echo.setEchoTag(QStringLiteral("Interactive"));
        echo.SendEcho(address);
    }
    const QString title = QStringLiteral("PING ") + address;
    if (echo.EchoErrorNumber() == 0) {
        MessageBox::show(&m_form,
                         address + QStringLiteral(" responded in ") +
                             QString::number(echo.EchoRoundTrip()) +
                             QStringLiteral(" milliseconds"),
                         MessageBox::Icon::Information, QMessageBox::Ok, title);
    } else {
        MessageBox::show(&m_form,
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
    Hourglass wait(&m_form);
    const QString companion = QStandardPaths::findExecutable(QStringLiteral("lumtrace"));
    if (companion.isEmpty()) {
        MessageBox::exclamation(&m_form, QStringLiteral("Zarnholt Lumtrace is not installed\n") +
                                             QStringLiteral("Visit ") + Version::webSite() +
                                             QStringLiteral(" for a copy."));
        return;
    }
    QProcess::startDetached(companion, {address, QStringLiteral("255.255.255.255")});
}
