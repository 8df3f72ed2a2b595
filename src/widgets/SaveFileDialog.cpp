#include "widgets/SaveFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QQueue>

namespace {

bool testMode = false;
QQueue<QString> nextNames;

// Qt's dialog applies the suffix itself, but not every platform dialog does; applying the
// same rule again afterwards changes nothing where it already ran.
QString withDefaultSuffix(const QString &path, const QString &suffix)
{
    if (path.isEmpty() || suffix.isEmpty() || QFileInfo(path).fileName().contains(u'.'))
        return path;
    return path + u'.' + suffix;
}

} // namespace

QString SaveFileDialog::getSaveFileName(QWidget *parent, const QString &title,
                                        const QString &initialName, const QString &filter,
                                        const QString &defaultSuffix)
{
    QString chosen;
    if (testMode) {
        chosen = nextNames.isEmpty() ? QString() : nextNames.dequeue();
    } else {
        QFileDialog dialog(parent, title);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        dialog.selectFile(initialName);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles().value(0);
    }
    return withDefaultSuffix(chosen, defaultSuffix);
}

void SaveFileDialog::setTestMode(bool on)
{
    testMode = on;
    nextNames.clear();
}

void SaveFileDialog::setNextFileName(const QString &name)
{
    nextNames.enqueue(name);
}
