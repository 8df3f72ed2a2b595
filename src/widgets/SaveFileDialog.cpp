#include "widgets/SaveFileDialog.h"

#include "widgets/LastFolder.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QQueue>

namespace {

bool testMode = false;
QQueue<QString> nextNames;
QList<SaveFileDialog::Request> requests;

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
                                        const QString &defaultSuffix, const QString &use)
{
    const QString folder = LastFolder::get(use);
    QString chosen;
    if (testMode) {
        requests.append({title, folder, initialName});
        chosen = nextNames.isEmpty() ? QString() : nextNames.dequeue();
    } else {
        QFileDialog dialog(parent, title);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        if (!folder.isEmpty())
            dialog.setDirectory(folder);
        dialog.selectFile(initialName);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles().value(0);
    }
    chosen = withDefaultSuffix(chosen, defaultSuffix);
    LastFolder::remember(use, chosen);
    return chosen;
}

void SaveFileDialog::setTestMode(bool on)
{
    testMode = on;
    nextNames.clear();
    requests.clear();
}

void SaveFileDialog::setNextFileName(const QString &name)
{
    nextNames.enqueue(name);
}

QList<SaveFileDialog::Request> SaveFileDialog::takeRequests()
{
    return std::exchange(requests, {});
}
