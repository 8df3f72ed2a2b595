#pragma once

#include <QString>

class QWidget;

// The platform's save dialog: asks before overwriting an existing file and offers no
// read-only box. In test mode nothing is shown: each request is answered with the queued next
// file name ("" or an empty queue means Cancel).
class SaveFileDialog
{
public:
    // The chosen full path, or "" when the user cancelled. A name typed without an extension
    // gets `defaultSuffix`.
    static QString getSaveFileName(QWidget *parent, const QString &title,
                                   const QString &initialName, const QString &filter,
                                   const QString &defaultSuffix);

    static void setTestMode(bool on);
    static void setNextFileName(const QString &name);
};
