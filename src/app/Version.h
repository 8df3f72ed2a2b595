#pragma once

#include <QString>

// The program's version information, shown by every window that names the version and
// carried in the echo banner, the export header and the report footer.
namespace Version {

inline constexpr int Major = 1;
inline constexpr int Minor = 3;
inline constexpr int Revision = 0;

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
inline QString legalCopyright()
{
    return QStringLiteral("Copyright (C) 2026 Zarnholt");
}
// The release month and year.
inline QString legalTrademarks()
{
    return QStringLiteral("December 2026");
}
// A reserved example domain: it can never lead a user to a stranger's site.
inline QString webSite()
{
    return QStringLiteral("https://www.zarnholt.example");
}

} // namespace Version
