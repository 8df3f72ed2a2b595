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
    void init();
    void setRows_data();
    void setRows();
    void redrawFalseBatchesChanges();
    void structuralChangeFlushesBatch_data();
    void structuralChangeFlushesBatch();
    void removeItem_data();
    void removeItem();
    void outOfRangeCurrentCell_data();
    void outOfRangeCurrentCell();
    void coloursBeyondPaletteSizeStayExact();

private:
    // Appends one row the way the scan engine does and leaves it current.
    void appendRow(const QString &address);
    QStringList column0() const;

    std::unique_ptr<ResultGrid> m_grid;
    // Checks every signal against the model's state at that moment.
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestResultGrid::init()
{
    m_grid = std::make_unique<ResultGrid>();
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_grid.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QStringList captions{u"IP Address"_s, u"Response Time"_s, u"DNS Lookup"_s};
    for (int col = 0; col < 3; ++col) {
        m_grid->setCol(col);
        m_grid->setText(captions[col]);
    }
}

void TestResultGrid::appendRow(const QString &address)
{
    m_grid->setRows(m_grid->Rows() + 1);
    m_grid->setRow(m_grid->Rows() - 1);
    m_grid->setCol(0);
    m_grid->setText(address);
    m_grid->setCol(1);
    m_grid->setCellForeColor(Qt::red);
    m_grid->setText(u"0 ms"_s);
}

QStringList TestResultGrid::column0() const
{
    QStringList texts;
    for (qsizetype row = 1; row < m_grid->Rows(); ++row)
        texts << m_grid->cellText(row, 0);
    return texts;
}

void TestResultGrid::setRows_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("after");
    QTest::newRow("clear 50 rows") << 50 << 1 << 1;
    QTest::newRow("shrink") << 10 << 4 << 4;
    QTest::newRow("grow by several") << 3 << 8 << 8;
    QTest::newRow("negative keeps the header") << 5 << -7 << 1;
}

void TestResultGrid::setRows()
{
    QFETCH(int, before);
    QFETCH(int, written);
    QFETCH(int, after);
    while (m_grid->Rows() < before)
        appendRow(QString::number(m_grid->Rows()));
    QSignalSpy removed(m_grid.get(), &ResultGrid::rowsRemovedFromTable);

    m_grid->setRows(written);

    QCOMPARE(m_grid->Rows(), after);
    QCOMPARE(m_grid->rowCount(), after - 1);
    QCOMPARE(m_grid->headerData(2, Qt::Horizontal).toString(), u"DNS Lookup"_s);
    for (qsizetype row = 1; row < after; ++row)
        QCOMPARE(m_grid->cellText(row, 0), row < before ? QString::number(row) : QString());
    if (after < before) {
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed[0][0].value<qsizetype>(), after);
        QCOMPARE(removed[0][1].value<qsizetype>(), before - after);
    }
}

void TestResultGrid::redrawFalseBatchesChanges()
{
    appendRow(u"127.0.0.1"_s);
    QSignalSpy inserted(m_grid.get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);

    m_grid->setRedraw(false);
    m_grid->setRow(1);
    m_grid->setCol(2);
    m_grid->setText(u"host"_s);
    for (int i = 2; i <= 6; ++i)
        appendRow(u"127.0.0.%1"_s.arg(i));
    QCOMPARE(inserted.count() + changed.count(), 0);
    QCOMPARE(m_grid->rowCount(), 1);
    QCOMPARE(m_grid->Rows(), 7); // the engine's own reads are always up to date
    QCOMPARE(m_grid->cellText(6, 0), u"127.0.0.6"_s);

    m_grid->setRedraw(true);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][1].toInt(), 1);
    QCOMPARE(inserted[0][2].toInt(), 5);
    QCOMPARE(changed.count(), 1); // only the row the views knew already
    QCOMPARE(changed[0][0].toModelIndex().row(), 0);
    QCOMPARE(changed[0][1].toModelIndex().row(), 0);
    QCOMPARE(m_grid->index(5, 0).data().toString(), u"127.0.0.6"_s);
    QCOMPARE(m_grid->index(5, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    QVERIFY(!m_grid->index(5, 0).data(Qt::ForegroundRole).isValid());
}

void TestResultGrid::structuralChangeFlushesBatch_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("RemoveItem") << 0;
    QTest::newRow("shrink") << 1;
    QTest::newRow("clear") << 2;
    QTest::newRow("more columns") << 3;
}

void TestResultGrid::structuralChangeFlushesBatch()
{
    QFETCH(int, change);
    appendRow(u"127.0.0.1"_s);
    m_grid->setRedraw(false);
    for (int i = 2; i <= 4; ++i)
        appendRow(u"127.0.0.%1"_s.arg(i));

    if (change == 0)
        m_grid->RemoveItem(3);
    else if (change == 1)
        m_grid->setRows(3);
    else if (change == 2)
        m_grid->setRows(1);
    else
        m_grid->setCols(5);
    QCOMPARE(m_grid->rowCount(), m_grid->Rows() - 1);
    m_grid->setRedraw(true);
    QCOMPARE(m_grid->rowCount(), m_grid->Rows() - 1);
}

void TestResultGrid::removeItem_data()
{
    QTest::addColumn<qsizetype>("row");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("first") << qsizetype(1) << QStringList{u"b"_s, u"c"_s};
    QTest::newRow("last") << qsizetype(3) << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("header row stays") << qsizetype(0) << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("beyond the end") << qsizetype(4) << QStringList{u"a"_s, u"b"_s, u"c"_s};
}

void TestResultGrid::removeItem()
{
    QFETCH(qsizetype, row);
    QFETCH(QStringList, left);
    for (const QString &text : {u"a"_s, u"b"_s, u"c"_s})
        appendRow(text);
    QSignalSpy removed(m_grid.get(), &ResultGrid::rowsRemovedFromTable);

    m_grid->RemoveItem(row);

    QCOMPARE(column0(), left);
    QCOMPARE(m_grid->headerData(0, Qt::Horizontal).toString(), u"IP Address"_s);
    QCOMPARE(removed.count(), left.size() == 3 ? 0 : 1);
}

void TestResultGrid::outOfRangeCurrentCell_data()
{
    QTest::addColumn<qsizetype>("row");
    QTest::addColumn<int>("col");
    QTest::newRow("negative row") << qsizetype(-1) << 0;
    QTest::newRow("row past the end") << qsizetype(3) << 0;
    QTest::newRow("negative column") << qsizetype(1) << -1;
    QTest::newRow("column past the end") << qsizetype(1) << 3;
}

void TestResultGrid::outOfRangeCurrentCell()
{
    QFETCH(qsizetype, row);
    QFETCH(int, col);
    appendRow(u"127.0.0.1"_s);
    appendRow(u"127.0.0.2"_s);
    QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);
    QSignalSpy headerChanged(m_grid.get(), &QAbstractItemModel::headerDataChanged);

    m_grid->setRow(row);
    m_grid->setCol(col);
    m_grid->setText(u"x"_s);
    m_grid->setCellForeColor(Qt::blue);

    QVERIFY(m_grid->Text().isEmpty());
    QVERIFY(!m_grid->CellForeColor().isValid());
    QCOMPARE(changed.count() + headerChanged.count(), 0);
    QCOMPARE(column0(), QStringList({u"127.0.0.1"_s, u"127.0.0.2"_s}));
}

void TestResultGrid::coloursBeyondPaletteSizeStayExact()
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

QTEST_GUILESS_MAIN(TestResultGrid)
#include "tst_result_grid.moc"
