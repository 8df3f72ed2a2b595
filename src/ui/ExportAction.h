#pragma once

#include <QString>

class QWidget;
class ResultGrid;

// The File menu's Export entry: asks for a file, writes the result table to it as CSV and
// reports how many records it wrote. An existing file is replaced only by a complete new
// one; a failed export leaves it untouched and says why.
namespace ExportAction {

// `startText` and `endText` are the range boxes' texts at the moment of the export; the
// hourglass shows on `parent`'s window while the file is written.
void run(QWidget *parent, const ResultGrid &table, const QString &startText,
         const QString &endText);

} // namespace ExportAction
