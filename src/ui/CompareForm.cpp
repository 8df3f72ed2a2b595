#include "ui/CompareForm.h"

#include "app/AtomicFile.h"
#include "app/GeneralDate.h"
#include "widgets/Hourglass.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"
#include "widgets/WindowPlacement.h"

#include <QAbstractTableModel>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

// The changes as a table: a model paints only the visible rows, so a comparison of two large
// scans opens at once.
class ChangeModel : public QAbstractTableModel
{
public:
    explicit ChangeModel(QObject *parent)
        : QAbstractTableModel(parent)
    {}

    void setChanges(const QList<ScanComparison::Change> *changes, bool inverted)
    {
        beginResetModel();
        m_changes = changes;
        m_inverted = inverted;
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() || !m_changes ? 0 : int(m_changes->size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 4;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || !m_changes)
            return {};
        const ScanComparison::Change &change = m_changes->at(index.row());
        switch (index.column()) {
        case 0:
            return ScanComparison::kindName(change.kind, m_inverted);
        case 1:
            return change.address;
        case 2:
            return change.then;
        default:
            return change.now;
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        static const QString captions[] = {u"Change"_s, u"IP Address"_s, u"Then"_s, u"Now"_s};
        return section >= 0 && section < 4 ? captions[section] : QString();
    }

private:
    const QList<ScanComparison::Change> *m_changes = nullptr;
    bool m_inverted = false;
};

CompareForm::CompareForm(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(u"Compare with Previous Scan"_s);
    setModal(false);
    Header = new QLabel(this);
    Header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A scan of many ranges, or a note, may be longer than the screen is wide.
    Header->setWordWrap(true);
    Counts = new QLabel(this);
    m_model = new ChangeModel(this);
    ChangeList = new QTableView(this);
    ChangeList->setModel(m_model);
    ChangeList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ChangeList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ChangeList->verticalHeader()->hide();
    ChangeList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ChangeList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // The names get the room their text needs: a narrow window scrolls rather than cut them.
    ChangeList->setWordWrap(false);
    Export_Button = new QPushButton(u"&Export ..."_s, this);
    Close_Button = new QPushButton(u"Close"_s, this);
    connect(Export_Button, &QPushButton::clicked, this, &CompareForm::Export_Button_Click);
    connect(Close_Button, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Export_Button);
    buttons->addWidget(Close_Button);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Header);
    layout->addWidget(Counts);
    layout->addWidget(ChangeList, 1);
    layout->addLayout(buttons);
}

void CompareForm::showChanges(const ScanRecord &then, const ScanRecord &now)
{
    Hourglass wait(this);
    showReport(ScanComparison::report(then, now));
}

void CompareForm::showNothing(const QString &reason)
{
    m_model->setChanges(nullptr, false);
    m_report = {};
    Header->setText(reason);
    Counts->clear();
    Export_Button->setEnabled(false);
}

void CompareForm::showReport(const ScanComparison::Report &report)
{
    m_model->setChanges(nullptr, false);
    m_report = report;
    const bool inverted = report.then.inverted;
    m_model->setChanges(&m_report.changes, inverted);
    const auto scanLine = [](const QString &which, const ScanRecord &scan) -> QString {
        return which + u" scan: "_s + scan.firstAddress + u" to "_s + scan.lastAddress + u", "_s +
               generalDate(scan.started);
    };
    QStringList header{scanLine(u"Previous"_s, report.then) + u", the latest completed one"_s,
                       scanLine(u"This"_s, report.now),
                       u"Mode: "_s + ScanComparison::modeText(inverted)};
    Header->setText((header + ScanComparison::notes(report)).join(u'\n'));
    const ScanComparison::Counts counts = ScanComparison::count(m_report.changes);
    const auto caption = [inverted](ScanComparison::Kind kind) {
        QString name = ScanComparison::kindName(kind, inverted);
        name[0] = name[0].toUpper();
        return name;
    };
    using ScanComparison::Kind;
    QString countsText = u"%1: %2    %3: %4    %5: %6"_s.arg(
        caption(Kind::New), QString::number(counts.added), caption(Kind::Gone),
        QString::number(counts.gone), caption(Kind::Renamed), QString::number(counts.renamed));
    // Devices are told apart only where hardware addresses were recorded.
    if (counts.moved + counts.changed > 0) {
        countsText +=
            u"    %1: %2    %3: %4"_s.arg(caption(Kind::Moved), QString::number(counts.moved),
                                          caption(Kind::Changed), QString::number(counts.changed));
    }
    Counts->setText(counts.total() == 0 ? u"No changes."_s : countsText);
    Export_Button->setEnabled(!m_report.changes.isEmpty());
    ChangeList->resizeColumnToContents(0);
    ChangeList->setColumnWidth(1, fontMetrics().horizontalAdvance(u"XXX.XXX.XXX.XXX   "_s));
    // Room for the names as the main window gives them, or for the longest name here when
    // that is longer.
    const QFontMetrics metrics = ChangeList->fontMetrics();
    int nameWidth = metrics.horizontalAdvance(u"XXXXXXXXXXXXXXXXXXXXXX"_s);
    constexpr qsizetype Measured = 2000; // enough to see the usual lengths, cheap
    const QList<ScanComparison::Change> &changes = m_report.changes;
    for (qsizetype i = 0; i < changes.size() && i < Measured; ++i) {
        nameWidth = std::max({nameWidth, metrics.horizontalAdvance(changes[i].then),
                              metrics.horizontalAdvance(changes[i].now)});
    }
    nameWidth += 2 * metrics.horizontalAdvance(u'X');
    ChangeList->setColumnWidth(2, nameWidth);
    ChangeList->setColumnWidth(3, nameWidth);
    // A window the user has open keeps the size given to it.
    if (!isVisible())
        fitToContent();
}

void CompareForm::fitToContent()
{
    // The whole list and some fifteen rows, up to what the screen allows.
    const int frame = 2 * ChangeList->frameWidth();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QMargins margins = layout()->contentsMargins();
    const int listWidth = ChangeList->columnWidth(0) + ChangeList->columnWidth(1) +
                          ChangeList->columnWidth(2) + ChangeList->columnWidth(3) + frame +
                          scrollBar;
    const int width =
        std::max({listWidth, Header->sizeHint().width(), Counts->sizeHint().width()}) +
        margins.left() + margins.right();
    const int rowHeight = ChangeList->verticalHeader()->defaultSectionSize();
    const int rows = int(std::clamp<qsizetype>(m_report.changes.size(), 5, 15));
    const int spacing = layout()->spacing();
    const int height =
        margins.top() + Header->sizeHint().height() + spacing + Counts->sizeHint().height() +
        spacing + ChangeList->horizontalHeader()->sizeHint().height() + rows * rowHeight + frame +
        scrollBar + spacing + Close_Button->sizeHint().height() + margins.bottom();
    WindowPlacement::fitOnScreen(this, QSize(width, height));
}

void CompareForm::Export_Button_Click()
{
    const QString path = SaveFileDialog::getSaveFileName(
        this, u"Export Changes to Text File"_s, u"Vantrel-changes.csv"_s,
        u"Comma Seperated File (*.csv)"_s, u"csv"_s, u"Compare"_s);
    if (path.isEmpty())
        return;
    QString error;
    {
        Hourglass wait(this);
        AtomicFile file(path);
        if (!file.open()) {
            error = file.errorString();
        } else {
            const ScanComparison::Written written =
                ScanComparison::writeCsv(file.device(), m_report);
            if (!written.ok)
                error = written.error;
            else if (!file.commit())
                error = file.errorString();
        }
    }
    if (!error.isEmpty()) {
        MessageBox::exclamation(
            this, u"Could not export to \"%1\".\n%2"_s.arg(QDir::toNativeSeparators(path), error));
        return;
    }
    MessageBox::show(this,
                     u"Exported %1 changes to %2"_s.arg(QString::number(m_report.changes.size()),
                                                        QFileInfo(path).fileName()),
                     MessageBox::Icon::None);
}
