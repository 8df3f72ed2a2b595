#include "ui/ResultTableView.h"

#include "scan/components/ResultGrid.h"
#include "widgets/Twips.h"

#include <QHeaderView>
#include <QMouseEvent>

#include <cmath>

namespace {

int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int shiftCode(Qt::KeyboardModifiers modifiers)
{
    int code = 0;
    if (modifiers & Qt::ShiftModifier)
        code |= 1;
    if (modifiers & Qt::ControlModifier)
        code |= 2;
    if (modifiers & Qt::AltModifier)
        code |= 4;
    return code;
}
} // namespace

ResultTableView::ResultTableView(ResultGrid *grid, QWidget *parent)
    : QTableView(parent)
    , m_grid(grid)
{
    setModel(grid);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);

    // Uniform, fixed row heights let the header map positions to rows arithmetically, so
    // a million rows scroll as cheaply as a hundred.
    QHeaderView *rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);

    QHeaderView *columns = horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setSectionsClickable(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->viewport()->installEventFilter(this);

    connect(grid, &ResultGrid::columnLayoutChanged, this, &ResultTableView::applyColumnLayout);
    connect(grid, &ResultGrid::redrawChanged, this, &QWidget::setUpdatesEnabled);
    connect(columns, &QHeaderView::sectionResized, this, &ResultTableView::columnResizedByUser);

    applyColumnLayout();
    setUpdatesEnabled(grid->Redraw());
}

int ResultTableView::twipsToPixels(int twips) const
{
    return Twips::toPixels(*this, twips);
}

int ResultTableView::pixelsToTwips(int pixels) const
{
    return Twips::fromPixels(*this, pixels);
}

void ResultTableView::mousePressEvent(QMouseEvent *event)
{
    // The selection follows the press first, so a handler of MouseDown sees the clicked
    // cell selected.
    QTableView::mousePressEvent(event);
    reportPress(event, viewport());
}

bool ResultTableView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonPress)
        reportPress(static_cast<QMouseEvent *>(event), horizontalHeader()->viewport());
    return QTableView::eventFilter(watched, event);
}

void ResultTableView::applyColumnLayout()
{
    m_applyingLayout = true;
    QHeaderView *columns = horizontalHeader();
    for (int col = 0; col < m_grid->Cols() && col < columns->count(); ++col)
        columns->resizeSection(col, twipsToPixels(m_grid->ColWidth(col)));
    m_applyingLayout = false;
    // Alignment comes with the cells' data; a repaint picks it up.
    viewport()->update();
}

void ResultTableView::columnResizedByUser(int column, int oldPixels, int newPixels)
{
    Q_UNUSED(oldPixels);
    if (m_applyingLayout)
        return;
    m_grid->setColWidth(column, pixelsToTwips(newPixels));
}

void ResultTableView::reportPress(const QMouseEvent *event, const QWidget *source)
{
    const QPoint local = event->position().toPoint();
    if (source == viewport()) {
        const int row = rowAt(local.y());
        m_mouseRow = row >= 0 ? qsizetype(row) + 1 : -1;
        m_mouseCol = columnAt(local.x());
    } else {
        m_mouseRow = 0;
        m_mouseCol = horizontalHeader()->logicalIndexAt(local.x());
    }

    const int button = buttonCode(event->button());
    if (button == 0)
        return;
    const QPoint inView = source->mapTo(this, local);
    Q_EMIT MouseDown(button, shiftCode(event->modifiers()), Twips::fromPixels(*this, inView.x()),
                     Twips::fromPixels(*this, inView.y()));
}
