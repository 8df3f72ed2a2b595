#include "ui/ResultTableView.h"

#include "scan/components/ResultGrid.h"
#include "ui/ResultProxyModel.h"
#include "widgets/Contrast.h"
#include "widgets/Twips.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
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

bool isMenuKey(const QKeyEvent *event)
{
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
           (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
}

} // namespace

ResultTableView::ResultTableView(ResultGrid *grid, QWidget *parent)
    : QTableView(parent)
    , m_grid(grid)
    , m_proxy(new ResultProxyModel(grid, this))
{
    setModel(m_proxy);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // Tab leaves the table for the next control instead of walking its cells.
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::StrongFocus);

    // Uniform, fixed row heights let the header map positions to rows arithmetically, so
    // a million rows scroll as cheaply as a hundred.
    QHeaderView *rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);

    QHeaderView *columns = horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->viewport()->installEventFilter(this);
    // Arrival order until the user clicks a header; a third click returns to it.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    columns->setSortIndicatorClearable(true);
    setSortingEnabled(true);

    connect(grid, &ResultGrid::columnLayoutChanged, this, &ResultTableView::applyColumnLayout);
    connect(grid, &ResultGrid::redrawChanged, this, &QWidget::setUpdatesEnabled);
    connect(columns, &QHeaderView::sectionResized, this, &ResultTableView::columnResizedByUser);

    applyColumnLayout();
    applyInks();
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

qsizetype ResultTableView::currentTableRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_proxy->tableRow(current.row()) : -1;
}

int ResultTableView::currentTableCol() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.column() : -1;
}

QList<qsizetype> ResultTableView::selectedTableRows() const
{
    QList<int> shown;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        shown.append(index.row());
    std::sort(shown.begin(), shown.end());
    QList<qsizetype> rows;
    rows.reserve(shown.size());
    for (const int row : std::as_const(shown))
        rows.append(m_proxy->tableRow(row));
    return rows;
}

QRect ResultTableView::cellRect(qsizetype row, int col) const
{
    const int shown = m_proxy->proxyRow(row);
    return shown < 0 ? QRect() : visualRect(m_proxy->index(shown, col));
}

ResultGrid::RowOrder ResultTableView::tableOrder() const
{
    return m_proxy->tableOrder();
}

void ResultTableView::resetOrder()
{
    if (horizontalHeader()->sortIndicatorSection() >= 0)
        sortByColumn(-1, Qt::AscendingOrder);
}

void ResultTableView::setFindText(const QString &text)
{
    if (text == m_findText)
        return;
    m_findText = text;
    m_proxy->setFilterFixedString(text);
}

void ResultTableView::mousePressEvent(QMouseEvent *event)
{
    // The selection follows the press first, so a handler of MouseDown sees the clicked
    // cell selected.
    QTableView::mousePressEvent(event);
    reportPress(event, viewport());
}

void ResultTableView::keyPressEvent(QKeyEvent *event)
{
    if (isMenuKey(event)) {
        Q_EMIT menuKeyPressed();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        Q_EMIT deleteKeyPressed();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        Q_EMIT copyKeyPressed();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ResultTableView::contextMenuEvent(QContextMenuEvent *event)
{
    // A menu asked for by the keyboard opens at the current row; the mouse has its own way
    // through MouseDown.
    if (event->reason() == QContextMenuEvent::Keyboard)
        Q_EMIT menuKeyPressed();
    event->accept();
}

void ResultTableView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyInks();
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
        columns->resizeSection(
            col, std::max(0, twipsToPixels(m_grid->ColWidth(col)) + borrowedPixels(col)));
    m_applyingLayout = false;
    // Alignment comes with the cells' data; a repaint picks it up.
    viewport()->update();
}

void ResultTableView::applyInks()
{
    // Failures red and lookups under way blue, as light or dark as this background needs.
    using Kind = ResultGrid::Kind;
    const QColor background = palette().color(QPalette::Active, QPalette::Base);
    const QColor text =
        Contrast::readable(palette().color(QPalette::Active, QPalette::Text), background);
    m_proxy->setInk(Kind::Plain, text);
    m_proxy->setInk(Kind::Time, text);
    m_proxy->setInk(Kind::Name, text);
    m_proxy->setInk(Kind::LookupFailure, text);
    m_proxy->setInk(Kind::Failure, Contrast::readable(QColor(255, 0, 0), background));
    m_proxy->setInk(Kind::Resolving, Contrast::readable(QColor(0, 0, 255), background));
}

void ResultTableView::columnResizedByUser(int column, int oldPixels, int newPixels)
{
    Q_UNUSED(oldPixels);
    if (m_applyingLayout)
        return;
    m_grid->setColWidth(column, pixelsToTwips(newPixels - borrowedPixels(column)));
}

int ResultTableView::borrowedPixels(int col) const
{
    // The mark's room comes from the last column, so the grid's widths, which the report
    // and a window that fits its columns go by, stay as without marks.
    const int last = m_grid->Cols() - 1;
    if (last <= 0)
        return 0;
    return col == 0 ? markRoom() : col == last ? -markRoom() : 0;
}

int ResultTableView::markRoom() const
{
    if (!m_grid->hasAddressMark())
        return 0;
    // What the style adds to a cell for a decoration of the view's icon size, with its
    // spacing: the width the grid gives the address stays the address's own.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("255.255.255.255");
    const int plain = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, {}, this).width();
    option.features |= QStyleOptionViewItem::HasDecoration;
    const int marked =
        style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, {}, this).width();
    return std::max(0, marked - plain);
}

void ResultTableView::reportPress(const QMouseEvent *event, const QWidget *source)
{
    const QPoint local = event->position().toPoint();
    if (source == viewport()) {
        const int row = rowAt(local.y());
        m_mouseRow = row >= 0 ? m_proxy->tableRow(row) : -1;
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
