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
    const QPoint pixels(m_form.twipsToPixels(X), m_form.twipsToPixels(Y));
    m_form.TablePopup->popup(m_form.TableView->mapToGlobal(pixels));
}

QString TableActions::addressOfCurrentRow() const
{
    ResultGrid &table = m_form.Table();
    table.setCol(0);
    return table.Text();
}

void TableActions::CopyPopup_Click()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_form.Table().Text());
}

void TableActions::DeletePopup_Click()
{
    m_form.Table().RemoveItem(m_form.Table().Row());
}

void TableActions::ClearSelection_Click()
{
    m_form.Table().setRows(1);
}

void TableActions::PingPopup_Click()
{
    const QString address = addressOfCurrentRow();
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
    // An argument list, never a command line: the address reaches no shell. A failure to
    // start is not reported.
    QProcess::startDetached(
        QStringLiteral("x-terminal-emulator"),
        {QStringLiteral("-e"), QStringLiteral("telnet"), addressOfCurrentRow()});
}

void TableActions::BrowsePopup_Click()
{
    const QString address = addressOfCurrentRow();
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
