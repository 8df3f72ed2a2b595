#pragma once

#include <QList>
#include <QString>

class QWidget;

// The platform's save dialog: asks before overwriting an existing file and offers no
// read-only box. It opens in the folder last saved to for the same use (kept across runs)
// and remembers the folder chosen. In test mode nothing is shown: each request is recorded
// and answered with the queued next file name ("" or an empty queue means Cancel).
class SaveFileDialog
{
public:
    // The chosen full path, or "" when the user cancelled. A name typed without an extension
    // gets `defaultSuffix`. `use` names the kind of file for the folder memory ("Export").
    static QString getSaveFileName(QWidget *parent, const QString &title,
                                   const QString &initialName, const QString &filter,
                                   const QString &defaultSuffix, const QString &use);

    struct Request
    {
        QString title;
        QString folder; // where the dialog opened; "": the platform's choice
        QString name;
    };

    static void setTestMode(bool on);
    static void setNextFileName(const QString &name);
    static QList<Request> takeRequests();
};
