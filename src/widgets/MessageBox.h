#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

#include <memory>

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

    // The box as show() shows it, not yet shown: wide enough for its whole title as well,
    // which the window system would otherwise cut.
    static std::unique_ptr<QMessageBox> create(QWidget *parent, const QString &text, Icon icon,
                                               QMessageBox::StandardButtons buttons,
                                               const QString &title);

    static void setTestMode(bool on);
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static QList<Shown> takeShown();
};
