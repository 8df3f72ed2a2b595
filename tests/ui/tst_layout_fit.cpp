#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "output/print/PrintPreviewForm.h"
#include "ui/CompareForm.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/OptionsForm.h"
#include "ui/PercentPanel.h"
#include "ui/SplashForm.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

// Every window at the user's font, on a 1600 x 1000 screen scaled by 2: each caption fits its
// widget, each widget lies inside its parent, no two sibling widgets overlap, and every
// window lies wholly on the screen.
class TestLayoutFit : public QObject
{
    Q_OBJECT

    // The room a widget's caption needs, its text and the style's frame around it, or an
    // invalid size for a widget without one.
    static QSize captionRoom(const QWidget *w)
    {
        const QFontMetrics metrics(w->font());
        const int frame = 2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        const auto textRoom = [&](const QString &text, int margin) {
            return QSize(metrics.horizontalAdvance(text) + frame + margin, metrics.height());
        };
        if (const auto *label = qobject_cast<const QLabel *>(w))
            return label->text().isEmpty() ? QSize() : label->sizeHint();
        if (const auto *push = qobject_cast<const QPushButton *>(w))
            return textRoom(push->text().remove(u'&'), 0);
        if (const auto *button = qobject_cast<const QAbstractButton *>(w))
            return {button->sizeHint().width(), metrics.height()};
        if (qobject_cast<const QLineEdit *>(w))
            return textRoom(QStringLiteral("255.255.255.255"), 4);
        if (qobject_cast<const PercentPanel *>(w))
            return textRoom(QStringLiteral("100%"), 4);
        return {};
    }
    static void collect(const QWidget *parent, QStringList &problems)
    {
        const auto describe = [](const QWidget *w) {
            return QString::fromLatin1(w->metaObject()->className()) + u' ' + w->objectName();
        };
        QList<const QWidget *> shown;
        for (const QObject *child : parent->children()) {
            const auto *w = qobject_cast<const QWidget *>(child);
            if (!w || w->isWindow() || w->isHidden() || w->size().isEmpty())
                continue;
            shown << w;
            if (!parent->rect().contains(w->geometry()))
                problems << describe(w) + QStringLiteral(" sticks out of its parent");
            if (const QSize room = captionRoom(w);
                room.isValid() && room.boundedTo(w->size()) != room)
                problems << describe(w) + QStringLiteral(" is too small for its caption");
            // Our own containers; the insides of Qt's widgets are theirs.
            if (w->metaObject() == &QWidget::staticMetaObject ||
                w->metaObject() == &QFrame::staticMetaObject)
                collect(w, problems);
        }
        for (qsizetype i = 0; i < shown.size(); ++i)
            for (qsizetype j = i + 1; j < shown.size(); ++j) {
                const auto *a = qobject_cast<const QLabel *>(shown[i]);
                const auto *b = qobject_cast<const QLabel *>(shown[j]);
                if (a && b && a->text() == b->text())
                    continue; // a title and its shadow
                if (shown[i]->geometry().intersects(shown[j]->geometry()))
                    problems << describe(shown[i]) + QStringLiteral(" overlaps ") +
                                    describe(shown[j]);
            }
    }

    static void onScreen(const QWidget *window, QStringList &problems)
    {
        if (!window->screen()->availableGeometry().contains(window->frameGeometry()))
            problems << QString::fromLatin1(window->metaObject()->className()) +
                            QStringLiteral(" is larger than the screen or off it");
    }

private Q_SLOTS:
    void initTestCase() { MessageBox::setTestMode(true); }

    void everyWindowFits_data()
    {
        QTest::addColumn<int>("points");
        for (int points : {8, 9, 10, 12, 14})
            QTest::addRow("DejaVu Sans %d pt", points) << points;
    }
    void everyWindowFits()
    {
        QFETCH(int, points);
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), points));
        MainForm form(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        control<QLineEdit>(&form, "Starting_IP")->setText(QStringLiteral("10.0.0.1-10.0.0.2"));
        form.Scan_Button_Click(); // grows the window and shows the status bar
        control<QLabel>(&form, "NodeCount")->setText(QStringLiteral("65536"));
        control<QLabel>(&form, "IP_Status")->setText(QStringLiteral("Waiting on replies ..."));
        QStringList problems; // the longest status and count
        collect(&form, problems);
        onScreen(&form, problems);
        // The mark of a new address leaves the longest address whole beside it.
        ResultGrid &table = form.Table();
        table.setAddressMark([](const QString &, int role) {
            return role == Qt::DecorationRole ? QVariant(QIcon(QPixmap(16, 16))) : QVariant();
        });
        table.setRows(2);
        table.setRow(1);
        table.setCol(0);
        table.setText(QStringLiteral("255.255.255.255"));
        const auto *view = control<QTableView>(&form, "TableView");
        QStyleOptionViewItem cell;
        cell.initFrom(view);
        const int icon = view->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view);
        cell.decorationSize = QSize(icon, icon);
        if (view->itemDelegate()->sizeHint(cell, view->model()->index(0, 0)).width() >
            view->columnWidth(0))
            problems << QStringLiteral("the new-address mark hides part of the address");
        // The smallest window the user can make still keeps the top row apart.
        form.resize(10, 10);
        QTRY_COMPARE(form.centralWidget()->size(), form.centralWidget()->minimumSize());
        collect(&form, problems);

        OptionsForm options(ScanSettings{5, 5000, 255, 2001, true, false}, {}, &form); // widest
        collect(&options, problems);

        PrintPreviewForm::Preview(&form, "10.0.0.1", "10.0.0.2", form.Table());
        PrintPreviewForm *preview = PrintPreviewForm::instance();
        QVERIFY(preview);
        collect(preview, problems);
        onScreen(preview, problems);
        preview->close();

        // The comparison shows names of a usual length whole.
        ScanRecord then;
        then.firstAddress = "10.0.0.1";
        then.lastAddress = "10.0.0.9";
        ScanRecord now = then;
        then.rows = {{"10.0.0.1", "1 ms", "fileserver-03.office.lab"},
                     {"10.0.0.2", "1 ms", "printer-lobby.office.lab"}};
        now.rows = {{"10.0.0.1", "1 ms", "fileserver-03a.office.lab"},
                    {"10.0.0.3", "1 ms", "workstation-117.office.lab"}};
        CompareForm compare(&form);
        compare.showChanges(then, now);
        compare.show();
        QVERIFY(QTest::qWaitForWindowExposed(&compare));
        onScreen(&compare, problems);
        QTableView *list = compare.ChangeList;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            for (int col = 0; col < 4; ++col) {
                const QString text = list->model()->index(row, col).data().toString();
                if (list->fontMetrics().horizontalAdvance(text) + 6 > list->columnWidth(col))
                    problems << QStringLiteral("the comparison cuts ") + text;
            }
        }

        // A ping's box keeps its whole title beside the title bar's buttons.
        const QString title = QStringLiteral("PING 127.0.2.0");
        const auto box = MessageBox::create(&form, QStringLiteral("Error # 11010\nNo route"),
                                            MessageBox::Icon::Exclamation, QMessageBox::Ok, title);
        box->show();
        QFont bold = box->font();
        bold.setBold(true);
        if (box->width() <
            QFontMetrics(bold).horizontalAdvance(title) + 6 * box->fontMetrics().height())
            problems << QStringLiteral("the ping's box is too narrow for its title");

        // The splash window as the About box, its OK button beside the longest status line.
        SplashForm splash;
        splash.WaitForUser();
        control<QLabel>(&splash, "Status")->setText(QStringLiteral("Loading Default Settings ..."));
        collect(&splash, problems);
        // Its artwork has a pixel for each of the screen's.
        for (const char *name : {"Banner", "Picture", "Pgm_Icon"}) {
            if (control<QLabel>(&splash, name)->pixmap().devicePixelRatio() != 2)
                problems << QString::fromLatin1(name) + QStringLiteral(" is blurred at 2x");
        }
        problems.removeDuplicates();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }
};

int main(int argc, char **argv)
{
    // Scaled by 2, the screen offers the windows 800 x 500.
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("screen.json")));
    if (!config.open(QIODevice::WriteOnly) ||
        !config.write(R"({"screens": [{"name": "wide", "x": 0, "y": 0, "width": 1600,
                          "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})"))
        return 1;
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestLayoutFit test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_layout_fit.moc"
