#pragma once

#include "history/ScanComparison.h"
#include "history/ScanRecord.h"

#include <QDialog>

class ChangeModel;
class QLabel;
class QPushButton;
class QTableView;

// "Compare with Previous Scan": what changed between the earlier scan of the same range and
// the scan in the table, grouped as new, gone and renamed with a count per group and both
// scans' dates on top. The list can be exported as a comma-separated file. Not modal: the
// scan and the main window go on while it is open.
class CompareForm : public QDialog
{
    Q_OBJECT
public:
    explicit CompareForm(QWidget *parent = nullptr);

    // Compares and shows; `now` is read once, so a running scan's later rows show on the
    // next opening.
    void showChanges(const ScanRecord &then, const ScanRecord &now);
    const QList<ScanComparison::Change> &changes() const { return m_changes; }

    void Export_Button_Click();

    QLabel *Header = nullptr;
    QLabel *Counts = nullptr;
    QTableView *ChangeList = nullptr;
    QPushButton *Export_Button = nullptr;
    QPushButton *Close_Button = nullptr;

private:
    // Size from the font and the content, within the screen.
    void fitToContent();

    ScanRecord m_then;
    ScanRecord m_now;
    QList<ScanComparison::Change> m_changes;
    ChangeModel *m_model = nullptr;
};
