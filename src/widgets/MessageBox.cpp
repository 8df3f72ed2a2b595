#include "widgets/MessageBox.h"

#include <QQueue>

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
    QMessageBox box(qtIcon(icon), title, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
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
