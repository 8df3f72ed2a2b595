#include "ui/ExportAction.h"

#include "output/CsvExport.h"
#include "widgets/Hourglass.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;

void ExportAction::run(QWidget *parent, const ResultGrid &table, const QString &startText,
                       const QString &endText, const std::function<ResultGrid::RowOrder()> &order)
{
    const QString path =
        SaveFileDialog::getSaveFileName(parent, u"Export Subnet to Text File"_s, u"Vantrel.csv"_s,
                                        u"Comma Seperated File (*.csv)"_s, u"txt"_s, u"Export"_s);
    if (path.isEmpty())
        return;

    CsvExport::Result result;
    {
        Hourglass wait(parent);
        // Repaint where the dialog was before a long write holds the event loop. Scan events
        // that run here still reach the file; none run once writing has begun.
        QCoreApplication::processEvents();
        result = CsvExport::writeFile(path, table, startText, endText, QDateTime::currentDateTime(),
                                      QLocale(), order ? order() : ResultGrid::RowOrder());
    }
    if (!result.ok) {
        MessageBox::exclamation(parent, u"Could not export to \"%1\".\n%2"_s.arg(
                                            QDir::toNativeSeparators(path), result.error));
        return;
    }
    MessageBox::show(parent,
                     u"Exported %1 records to %2"_s.arg(QString::number(result.records),
                                                        QFileInfo(path).fileName()),
                     MessageBox::Icon::None);
}
