#include "ui/ResultTableView.h"

#include "scan/components/ResultGrid.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestResultTableView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void headerShowsRow0();
    void mousePress_data();
    void mousePress();
    void columnWidthRoundTrip();
    void redrawSuspendsPainting();

private:
    std::unique_ptr<ResultGrid> m_grid;
    std::unique_ptr<ResultTableView> m_view;
};

void TestResultTableView::init()
{
    m_grid = std::make_unique<ResultGrid>();
    const QStringList captions{u"IP Address"_s, u"Response Time"_s, u"DNS Lookup"_s};
    for (int col = 0; col < 3; ++col) {
        m_grid->setCol(col);
        m_grid->setText(captions[col]);
    }
    for (int i = 1; i <= 5; ++i) {
        m_grid->setRows(m_grid->Rows() + 1);
        m_grid->setRow(i);
        m_grid->setCol(0);
        m_grid->setText(u"127.0.0.%1"_s.arg(i));
    }
    m_view = std::make_unique<ResultTableView>(m_grid.get());
    m_view->resize(600, 400);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestResultTableView::cleanup()
{
    m_view.reset();
    m_grid.reset();
}

void TestResultTableView::headerShowsRow0()
{
    m_grid->setRow(0);
    m_grid->setCol(2);
    m_grid->setText(u"Name"_s);
    const QHeaderView *header = m_view->horizontalHeader();
    QCOMPARE(header->model()->headerData(0, Qt::Horizontal).toString(), u"IP Address"_s);
    QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(), u"Name"_s);
    QVERIFY(m_view->verticalHeader()->isHidden());
}

void TestResultTableView::mousePress_data()
{
    QTest::addColumn<bool>("onHeader");
    QTest::addColumn<int>("modelRow"); // -1: below the last row
    QTest::addColumn<int>("col");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<qsizetype>("mouseRow");
    QTest::addColumn<int>("buttonCode");
    QTest::addColumn<int>("shiftCode");
    QTest::newRow("right click on a data cell")
        << false << 1 << 1 << Qt::RightButton << Qt::KeyboardModifiers() << qsizetype(2) << 2 << 0;
    QTest::newRow("middle click below the last row, all modifiers")
        << false << -1 << 2 << Qt::MiddleButton
        << (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier) << qsizetype(-1) << 4 << 7;
    QTest::newRow("left click on the header")
        << true << 0 << 0 << Qt::LeftButton << Qt::KeyboardModifiers() << qsizetype(0) << 1 << 0;
}

void TestResultTableView::mousePress()
{
    QFETCH(bool, onHeader);
    QFETCH(int, modelRow);
    QFETCH(int, col);
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(qsizetype, mouseRow);
    QFETCH(int, buttonCode);
    QFETCH(int, shiftCode);

    QWidget *target = onHeader ? m_view->horizontalHeader()->viewport() : m_view->viewport();
    QPoint pos;
    if (onHeader) {
        pos = QPoint(m_view->horizontalHeader()->sectionViewportPosition(col) + 5, 5);
    } else if (modelRow < 0) {
        const QRect last = m_view->visualRect(m_grid->index(m_grid->rowCount() - 1, col));
        pos = QPoint(last.center().x(), last.bottom() + 20);
    } else {
        pos = m_view->visualRect(m_grid->index(modelRow, col)).center();
    }
    QSignalSpy pressed(m_view.get(), &ResultTableView::MouseDown);
    QTest::mouseClick(target, button, modifiers, pos);

    QCOMPARE(m_view->MouseRow(), mouseRow);
    QCOMPARE(m_view->MouseCol(), col);
    QCOMPARE(pressed.count(), 1);
    const QPoint inView = target->mapTo(m_view.get(), pos);
    QCOMPARE(pressed[0][0].toInt(), buttonCode);
    QCOMPARE(pressed[0][1].toInt(), shiftCode);
    QCOMPARE(pressed[0][2].toInt(), qRound(inView.x() * 1440.0 / m_view->logicalDpiX()));
    QCOMPARE(pressed[0][3].toInt(), qRound(inView.y() * 1440.0 / m_view->logicalDpiY()));
}

void TestResultTableView::columnWidthRoundTrip()
{
    const double pixelsPerTwip = m_view->logicalDpiX() / 1440.0;
    m_grid->setColWidth(0, 2880);
    QCOMPARE(m_view->horizontalHeader()->sectionSize(0), qRound(2880 * pixelsPerTwip));

    // What a drag of the column border does.
    m_view->horizontalHeader()->resizeSection(1, 137);
    QCOMPARE(m_grid->ColWidth(1), qRound(137 / pixelsPerTwip));
    QCOMPARE(m_view->horizontalHeader()->sectionSize(1), 137);
    QCOMPARE(m_grid->ColWidth(0), 2880);

    // A clear resets the model; the header must not hand its default widths back.
    m_grid->setRows(1);
    QCOMPARE(m_grid->ColWidth(0), 2880);
    QCOMPARE(m_view->horizontalHeader()->sectionSize(0), qRound(2880 * pixelsPerTwip));
    QCOMPARE(m_view->horizontalHeader()->sectionSize(1), 137);
}

void TestResultTableView::redrawSuspendsPainting()
{
    m_grid->setRedraw(false);
    QVERIFY(!m_view->updatesEnabled());
    m_grid->setRedraw(true);
    QVERIFY(m_view->updatesEnabled());
}

QTEST_MAIN(TestResultTableView)
#include "tst_result_table_view.moc"
