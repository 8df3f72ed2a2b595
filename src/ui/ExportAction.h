#pragma once

#include "scan/components/ResultGrid.h"

#include <QString>

#include <functional>

class QWidget;

// The File menu's Export entry: asks for a file, writes the result table to it as CSV and
// reports how many records it wrote. An existing file is replaced only by a complete new
// one; a failed export leaves it untouched and says why.
namespace ExportAction {

// `startText` and `endText` are the range boxes' texts at the moment of the export; the
// hourglass shows on `parent`'s window while the file is written. `order` gives the rows'
// order as the user sees them at the moment of writing (none: table order).
void run(QWidget *parent, const ResultGrid &table, const QString &startText, const QString &endText,
         const std::function<ResultGrid::RowOrder()> &order = {});

} // namespace ExportAction
