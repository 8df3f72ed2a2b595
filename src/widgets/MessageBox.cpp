#include "widgets/MessageBox.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QQueue>
#include <QSpacerItem>

namespace {

bool testMode = false;
QQueue<QMessageBox::StandardButton> nextAnswers;
QList<MessageBox::Shown> shown;

QMessageBox::Icon qtIcon(MessageBox::Icon icon)
{
    switch (icon) {
    case MessageBox::Icon::Information:
        return QMessageBox::Information;
    case MessageBox::Icon::Exclamation:
        return QMessageBox::Warning;
    case MessageBox::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QMessageBox::StandardButton MessageBox::show(QWidget *parent, const QString &text, Icon icon,
                                             QMessageBox::StandardButtons buttons,
                                             const QString &title)
{
    if (testMode) {
        shown.append({text, title, icon, buttons});
        return nextAnswers.isEmpty() ? QMessageBox::Ok : nextAnswers.dequeue();
    }
    const std::unique_ptr<QMessageBox> box = create(parent, text, icon, buttons, title);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

std::unique_ptr<QMessageBox> MessageBox::create(QWidget *parent, const QString &text, Icon icon,
                                                QMessageBox::StandardButtons buttons,
                                                const QString &title)
{
    auto box = std::make_unique<QMessageBox>(qtIcon(icon), title, text, buttons, parent);
    // The title bar holds the title in a bold face beside the window's icon and its buttons,
    // some three lines high each; a box as narrow as a short text cuts the title.
    QFont titleFont = box->font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    const int titleRoom = metrics.horizontalAdvance(title) + 8 * metrics.height();
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout())) {
        grid->addItem(new QSpacerItem(titleRoom, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    return box;
}

void MessageBox::setTestMode(bool on)
{
    testMode = on;
    nextAnswers.clear();
    shown.clear();
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    nextAnswers.enqueue(answer);
}

QList<MessageBox::Shown> MessageBox::takeShown()
{
    return std::exchange(shown, {});
}
