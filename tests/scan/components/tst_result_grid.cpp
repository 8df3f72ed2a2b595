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

    // Appends one row the way the scan engine marks a failure, left current.
    void appendRow(const QString &address)
    {
        m_grid->setRows(m_grid->Rows() + 1);
        m_grid->setRow(m_grid->Rows() - 1);
        m_grid->setCol(0);
        m_grid->setText(address);
        m_grid->setCellKind(ResultGrid::Kind::Failure);
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

    // Rows added while Redraw is false reach the views as one batch, their kinds with them.
    void heldBackRowsComeAsOneBatch()
    {
        QSignalSpy inserted(m_grid.get(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(m_grid.get(), &QAbstractItemModel::dataChanged);
        m_grid->setRedraw(false);
        m_grid->setText(u"b"_s); // in a row the views know already
        // appendRow goes by Rows(): the engine's own reads stay up to date meanwhile.
        for (int i = 2; i <= 4; ++i)
            appendRow(QString::number(i));
        QCOMPARE(inserted.count() + changed.count(), 0);
        m_grid->setRedraw(true);
        QCOMPARE(inserted.count(), 1); // one batch; the model tester checks its range
        // Only the row the views knew already; the others come with the batch.
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0][1].toModelIndex().row(), 0);
        m_grid->setRow(5); // a stale row index: the write goes nowhere
        m_grid->setText(u"x"_s);
        QCOMPARE(m_grid->Text(), QString());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_grid->index(3, 0).data(ResultGrid::KindRole).toInt(),
                 int(ResultGrid::Kind::Failure));
    }
};

QTEST_GUILESS_MAIN(TestResultGrid)
#include "tst_result_grid.moc"
