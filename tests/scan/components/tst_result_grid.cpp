#include "scan/components/ResultGrid.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestResultGrid : public QObject
{
    Q_OBJECT

    std::unique_ptr<ResultGrid> m_grid;

    // Appends one row the way the scan engine does: its address in red, left current.
    void appendRow(const QString &address)
    {
        m_grid->setRows(m_grid->Rows() + 1);
        m_grid->setRow(m_grid->Rows() - 1);
        m_grid->setCol(0);
        m_grid->setText(address);
        m_grid->setCellForeColor(Qt::red);
    }

private Q_SLOTS:
    void init()
    {
        m_grid = std::make_unique<ResultGrid>();
        // Checks every signal against the model's state at that moment.
        new QAbstractItemModelTester(m_grid.get(), m_grid.get());
        m_grid->setText(u"IP Address"_s); // the header of column 0
        appendRow(u"a"_s);
    }

    void structuralChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("left"); // the views' header, then column 0 of each row
        QTest::addColumn<QString>("removed");  // rowsRemovedFromTable: first row + count
        const QStringList all{u"IP Address"_s, u"a"_s, u"b"_s, u"c"_s};
        QTest::newRow("clear") << u"setRows 1"_s << all.first(1) << u"1+3"_s;
        QTest::newRow("shrink") << u"setRows 3"_s << all.first(3) << u"3+1"_s;
        QTest::newRow("grow") << u"setRows 5"_s << all + QStringList{{}} << QString();
        QTest::newRow("below 1 keeps the header") << u"setRows -7"_s << all.first(1) << u"1+3"_s;
        QTest::newRow("remove first") << u"RemoveItem 1"_s << all.first(1) + all.mid(2) << u"1+1"_s;
        QTest::newRow("remove last") << u"RemoveItem 3"_s << all.first(3) << u"3+1"_s;
        QTest::newRow("header row stays") << u"RemoveItem 0"_s << all << QString();
        QTest::newRow("remove beyond the end") << u"RemoveItem 4"_s << all << QString();
    }

    // The last row is still held back (Redraw false) when the change comes, and columns are
    // added after it; the model tester sees that the views stay in step.
    void structuralChange()
    {
        QFETCH(QString, change);
        appendRow(u"b"_s);
        m_grid->setRedraw(false);
        appendRow(u"c"_s);
        QSignalSpy removed(m_grid.get(), &ResultGrid::rowsRemovedFromTable);
        const int value = change.section(u' ', 1).toInt();
        if (change.startsWith(u"setRows"))
            m_grid->setRows(value);
        else
            m_grid->RemoveItem(value);
        m_grid->setCols(5); // every cell keeps its place
        m_grid->setRedraw(true);
        QStringList left{m_grid->headerData(0, Qt::Horizontal).toString()}, signalled;
        for (qsizetype row = 1; row < m_grid->Rows(); ++row)
            left << m_grid->cellText(row, 0);
        QTEST(left, "left");
        for (const QList<QVariant> &args : removed)
            signalled << args[0].toString() + u'+' + args[1].toString();
        QTEST(signalled.join(u' '), "removed");
    }

    void redrawFalseBatchesChanges()
    {
        QSignalSpy inserted(m_grid.get(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);
        m_grid->setRedraw(false);
        m_grid->setText(u"b"_s); // in a row the views know already
        // appendRow goes by Rows(): the engine's own reads stay up to date meanwhile.
        for (int i = 2; i <= 6; ++i)
            appendRow(QString::number(i));
        QCOMPARE(inserted.count() + changed.count(), 0);
        m_grid->setRedraw(true);
        QCOMPARE(inserted.count(), 1); // one batch; the model tester checks its range
        // Only the row the views knew already; the others come with the batch.
        QCOMPARE(changed.value(0).value(1).toModelIndex().row(), 0);
        QCOMPARE(m_grid->index(5, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    }

    void currentCellWrites_data()
    {
        QTest::addColumn<QPoint>("cell"); // column, row
        QTest::newRow("in range") << QPoint(2, 1);
        QTest::newRow("negative row") << QPoint(0, -1);
        QTest::newRow("row past the end") << QPoint(0, 2);
        QTest::newRow("negative column") << QPoint(-1, 1);
        QTest::newRow("column past the end") << QPoint(3, 1);
    }

    // Outside the table, reads give nothing and writes go nowhere: a stale row index never
    // crashes and never touches another cell.
    void currentCellWrites()
    {
        QFETCH(QPoint, cell);
        const bool inRange = cell == QPoint(2, 1);
        QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);
        m_grid->setRow(cell.y());
        m_grid->setCol(cell.x());
        m_grid->setCellForeColor(Qt::blue);
        m_grid->setText(u"x"_s);
        QCOMPARE(m_grid->CellForeColor(), inRange ? QColor(Qt::blue) : QColor());
        QCOMPARE(m_grid->Text(), inRange ? u"x"_s : QString());
        QCOMPARE(changed.count(), inRange ? 2 : 0);
        QCOMPARE(m_grid->index(0, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    }
};

QTEST_GUILESS_MAIN(TestResultGrid)
#include "tst_result_grid.moc"
