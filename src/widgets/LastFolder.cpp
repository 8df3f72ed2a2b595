#include "widgets/LastFolder.h"

#include "app/SettingsStore.h"
#include "app/Version.h"

#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Folders");

} // namespace

QString LastFolder::get(const QString &use)
{
    const QString folder =
        SettingsStore::GetSetting(Version::fileDescription(), Section, use, QString());
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void LastFolder::remember(const QString &use, const QString &filePath)
{
    if (filePath.isEmpty())
        return;
    const QString folder = QFileInfo(filePath).absolutePath();
    if (folder != get(use))
        SettingsStore::SaveSetting(Version::fileDescription(), Section, use, folder);
}
