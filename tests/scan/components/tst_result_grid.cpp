#include "scan/components/ResultGrid.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestResultGrid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_grid = std::make_unique<ResultGrid>();
        // Checks every signal against the model's state at that moment.
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_grid.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_grid->setText(u"IP Address"_s); // the header of column 0
    }

    void structuralChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("batched"); // the last row appended while Redraw is false
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("removed"); // rowsRemovedFromTable: first row + count
        const QStringList all{u"a"_s, u"b"_s, u"c"_s};
        QTest::newRow("clear") << u"setRows 1"_s << true << QStringList() << u"1+3"_s;
        QTest::newRow("shrink") << u"setRows 3"_s << true << all.first(2) << u"3+1"_s;
        QTest::newRow("grow") << u"setRows 5"_s << false << all + QStringList{{}} << QString();
        QTest::newRow("below 1 keeps the header")
            << u"setRows -7"_s << false << QStringList() << u"1+3"_s;
        QTest::newRow("remove first") << u"RemoveItem 1"_s << false << all.mid(1) << u"1+1"_s;
        QTest::newRow("remove last") << u"RemoveItem 3"_s << true << all.first(2) << u"3+1"_s;
        QTest::newRow("header row stays") << u"RemoveItem 0"_s << false << all << QString();
        QTest::newRow("remove beyond the end") << u"RemoveItem 4"_s << false << all << QString();
        QTest::newRow("more columns") << u"setCols 5"_s << true << all << QString();
    }

    void structuralChange()
    {
        QFETCH(QString, change);
        QFETCH(bool, batched);
        appendRow(u"a"_s);
        appendRow(u"b"_s);
        m_grid->setRedraw(!batched);
        appendRow(u"c"_s);
        QSignalSpy removed(m_grid.get(), &ResultGrid::rowsRemovedFromTable);
        const int value = change.section(u' ', 1).toInt();
        if (change.startsWith(u"setRows"))
            m_grid->setRows(value);
        else if (change.startsWith(u"RemoveItem"))
            m_grid->RemoveItem(value);
        else
            m_grid->setCols(value);
        QCOMPARE(m_grid->rowCount(), m_grid->Rows() - 1); // a structural change flushes a batch
        m_grid->setRedraw(true);
        QStringList left, signalled;
        for (qsizetype row = 1; row < m_grid->Rows(); ++row)
            left << m_grid->cellText(row, 0);
        QTEST(left, "left");
        for (const QList<QVariant> &args : removed)
            signalled << u"%1+%2"_s.arg(args[0].value<qsizetype>()).arg(args[1].value<qsizetype>());
        QTEST(signalled.join(u' '), "removed");
        QCOMPARE(m_grid->headerData(0, Qt::Horizontal).toString(), u"IP Address"_s);
    }

    void redrawFalseBatchesChanges()
    {
        appendRow(u"127.0.0.1"_s);
        QSignalSpy inserted(m_grid.get(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);
        m_grid->setRedraw(false);
        m_grid->setRow(1); // a row the views know already
        m_grid->setText(u"1 ms"_s);
        for (int i = 2; i <= 6; ++i)
            appendRow(u"127.0.0.%1"_s.arg(i));
        QCOMPARE(inserted.count() + changed.count(), 0);
        QCOMPARE(m_grid->Rows(), 7); // the engine's own reads are always up to date
        m_grid->setRedraw(true);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(std::pair(inserted[0][1].toInt(), inserted[0][2].toInt()), std::pair(1, 5));
        QCOMPARE(changed.count(), 1); // only the row the views knew already
        QCOMPARE(changed[0][1].toModelIndex().row(), 0);
        QCOMPARE(m_grid->index(5, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    }

    void outOfRangeCurrentCell_data()
    {
        QTest::addColumn<qsizetype>("row");
        QTest::addColumn<int>("col");
        QTest::newRow("negative row") << qsizetype(-1) << 0;
        QTest::newRow("row past the end") << qsizetype(2) << 0;
        QTest::newRow("negative column") << qsizetype(1) << -1;
        QTest::newRow("column past the end") << qsizetype(1) << 3;
    }

    // Reads give nothing and writes go nowhere: a stale row index never crashes.
    void outOfRangeCurrentCell()
    {
        QFETCH(qsizetype, row);
        QFETCH(int, col);
        appendRow(u"127.0.0.1"_s);
        QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);
        m_grid->setRow(row);
        m_grid->setCol(col);
        m_grid->setText(u"x"_s);
        m_grid->setCellForeColor(Qt::blue);
        QVERIFY(m_grid->Text().isEmpty());
        QVERIFY(!m_grid->CellForeColor().isValid());
        QCOMPARE(changed.count(), 0);
    }

    void coloursBeyondPaletteSizeStayExact()
    {
        appendRow(u"127.0.0.1"_s);
        m_grid->setCol(2);
        // Far more colours than the palette holds, one after another on the same cell: the
        // ones no longer in use must make room.
        for (int i = 0; i < 1000; ++i) {
            const QColor color(i % 256, i / 256, 7);
            m_grid->setCellForeColor(color);
            QCOMPARE(m_grid->CellForeColor(), color);
        }
        m_grid->setCol(1);
        QCOMPARE(m_grid->CellForeColor(), QColor(Qt::red));
    }

private:
    // Appends one row the way the scan engine does and leaves it current.
    void appendRow(const QString &address)
    {
        m_grid->setRows(m_grid->Rows() + 1);
        m_grid->setRow(m_grid->Rows() - 1);
        m_grid->setCol(0);
        m_grid->setText(address);
        m_grid->setCol(1);
        m_grid->setCellForeColor(Qt::red);
        m_grid->setText(u"0 ms"_s);
    }

    std::unique_ptr<ResultGrid> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

QTEST_GUILESS_MAIN(TestResultGrid)
#include "tst_result_grid.moc"
