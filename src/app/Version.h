#pragma once

#include "app/BuildVersion.h"

#include <QString>

// The program's version information, shown by every window that names the version and
// carried in the echo banner, the export header and the report footer. The numbers come
// from the project's version in CMake, which also names the package.
namespace Version {

inline constexpr int Major = VANTREL_VERSION_MAJOR;
inline constexpr int Minor = VANTREL_VERSION_MINOR;
inline constexpr int Revision = VANTREL_VERSION_PATCH;

inline QString fileDescription()
{
    return QStringLiteral("Vantrel");
}
// Major "." minor "." revision in plain decimal.
inline QString text()
{
    return QString::number(Major) + u'.' + QString::number(Minor) + u'.' +
           QString::number(Revision);
}
// The maker, as every window, file and page that names it spells it.
inline QString companyName()
{
    return QStringLiteral("Zarnholt");
}
inline QString legalCopyright()
{
    return QStringLiteral("Copyright (C) 2026 ") + companyName();
}
// The release month and year.
inline QString legalTrademarks()
{
    return QStringLiteral("December 2026");
}
// The product web site, set in CMake beside the version since the package names it too.
inline QString webSite()
{
    return QStringLiteral(VANTREL_WEB_SITE);
}

} // namespace Version
