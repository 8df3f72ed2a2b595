#pragma once

#include "history/ScanComparison.h"
#include "history/ScanRecord.h"

#include <QDialog>

class ChangeModel;
class QLabel;
class QPushButton;
class QTableView;

// "Compare with Previous Scan": what changed between the earlier completed scan of the same
// range and mode and the scan in the table, grouped as new, gone and renamed (worded for an
// inverted scan) with a count per group; on top both scans' dates, the mode, and what the
// comparison left out (stopped scans in between, the part of a running scan still to come).
// The list can be exported as a comma-separated file. Not modal: the scan and the main window
// go on while it is open.
class CompareForm : public QDialog
{
    Q_OBJECT
public:
    explicit CompareForm(QWidget *parent = nullptr);

    // Shows a comparison made; the owner shows a fresh one as the scan goes on.
    void showReport(const ScanComparison::Report &report);
    // Compares the whole of both scans and shows that.
    void showChanges(const ScanRecord &then, const ScanRecord &now);
    // Nothing to compare with, and why.
    void showNothing(const QString &reason);
    const QList<ScanComparison::Change> &changes() const { return m_report.changes; }

    void Export_Button_Click();

    QLabel *Header = nullptr;
    QLabel *Counts = nullptr;
    QTableView *ChangeList = nullptr;
    QPushButton *Export_Button = nullptr;
    QPushButton *Close_Button = nullptr;

private:
    // Size from the font and the content, within the screen.
    void fitToContent();

    ScanComparison::Report m_report;
    ChangeModel *m_model = nullptr;
};
