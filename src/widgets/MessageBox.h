#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// Message boxes in the program's style, titled "Vantrel" unless told otherwise. In test
// mode nothing is shown: each box is recorded and answered with the queued next answer.
class MessageBox
{
public:
    enum class Icon
    {
        None,
        Information,
        Exclamation
    };

    struct Shown
    {
        QString text;
        QString title;
        Icon icon = Icon::None;
        QMessageBox::StandardButtons buttons;
    };

    static QMessageBox::StandardButton show(QWidget *parent, const QString &text, Icon icon,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                            const QString &title = QStringLiteral("Vantrel"));
    static void exclamation(QWidget *parent, const QString &text)
    {
        show(parent, text, Icon::Exclamation);
    }

    static void setTestMode(bool on);
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static QList<Shown> takeShown();
};
