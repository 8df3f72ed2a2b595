#include "ui/ResultTableView.h"

#include "scan/components/ResultGrid.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestResultTableView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_grid = std::make_unique<ResultGrid>();
        m_grid->setRows(6);
        m_view = std::make_unique<ResultTableView>(m_grid.get());
        m_view->resize(600, 400);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void cleanup() { m_view.reset(); }

    void mousePress_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        // Where the press goes and what comes back: MouseRow (0 the header, -1 below the last
        // row), MouseCol, then MouseDown's Button and Shift.
        QTest::addColumn<QList<int>>("reported");
        const Qt::KeyboardModifiers none,
            all = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
        QTest::newRow("right click on a cell") << Qt::RightButton << none << QList<int>{2, 1, 2, 0};
        QTest::newRow("middle click below the last row, all modifiers")
            << Qt::MiddleButton << all << QList<int>{-1, 2, 4, 7};
        QTest::newRow("left click on the header")
            << Qt::LeftButton << none << QList<int>{0, 0, 1, 0};
    }

    void mousePress()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QList<int>, reported);
        const int row = reported[0], col = reported[1];
        const QHeaderView *header = m_view->horizontalHeader();
        QWidget *target = row == 0 ? header->viewport() : m_view->viewport();
        const QRect cell = m_view->visualRect(m_grid->index(row < 0 ? 4 : row - 1, col));
        const QPoint pos = row == 0  ? QPoint(header->sectionViewportPosition(col) + 5, 5)
                           : row < 0 ? cell.bottomLeft() + QPoint(5, 20)
                                     : cell.center();
        QSignalSpy pressed(m_view.get(), &ResultTableView::MouseDown);
        QTest::mouseClick(target, button, modifiers, pos);
        QCOMPARE(pressed.count(), 1);
        QCOMPARE((QList<int>{int(m_view->MouseRow()), m_view->MouseCol(), pressed[0][0].toInt(),
                             pressed[0][1].toInt()}),
                 reported);
        // Reported in the window's twips, which the menu maps back to the same point.
        const QPoint inView = target->mapTo(m_view.get(), pos);
        QVERIFY(qAbs(m_view->twipsToPixels(pressed[0][2].toInt()) - inView.x()) <= 1);
        QVERIFY(qAbs(m_view->twipsToPixels(pressed[0][3].toInt()) - inView.y()) <= 1);
    }

    void columnWidthsAndRedraw()
    {
        m_grid->setColWidth(0, 2880);
        QCOMPARE(m_view->horizontalHeader()->sectionSize(0), m_view->twipsToPixels(2880));
        m_view->horizontalHeader()->resizeSection(1, 137); // what a drag of the border does
        QCOMPARE(m_grid->ColWidth(1), m_view->pixelsToTwips(137));
        // A clear resets the model; the header must not hand its default widths back.
        m_grid->setRows(1);
        QCOMPARE(m_view->horizontalHeader()->sectionSize(0), m_view->twipsToPixels(2880));
        QCOMPARE(m_view->horizontalHeader()->sectionSize(1), 137);
        m_grid->setRedraw(false); // a sweep's rows are painted once, at its end
        QVERIFY(!m_view->updatesEnabled());
        m_grid->setRedraw(true);
        QVERIFY(m_view->updatesEnabled());
    }

private:
    std::unique_ptr<ResultGrid> m_grid;
    std::unique_ptr<ResultTableView> m_view;
};

QTEST_MAIN(TestResultTableView)
#include "tst_result_table_view.moc"
