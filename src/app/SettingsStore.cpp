#include "app/SettingsStore.h"

#include "app/AtomicFile.h"
#include "app/Version.h"
#include "scan/IP_Functions.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace SettingsStore {

namespace {

struct Entry
{
    QStringView section;
    QStringView key;
};

// The store layout, in the order start-up reads and the options dialog writes.
constexpr Entry PingsEntry{u"ICMP", u"PINGS Per Node"};
constexpr Entry TimeoutEntry{u"ICMP", u"Timeout"};
constexpr Entry TTLEntry{u"ICMP", u"TTL"};
constexpr Entry DelayEntry{u"ICMP", u"Inter PING Delay"};
constexpr Entry ActiveEntry{u"DNS", u"Active"};
constexpr Entry ReverseEntry{u"Scan", u"Reverse"};
constexpr Entry ArpOnlyEntry{u"Scan", u"ARP Only"};

// The application name is looked up on every access rather than cached: it is the one
// place that names the store.
QString get(const Entry &entry, const QString &defaultValue)
{
    return GetSetting(Version::fileDescription(), entry.section.toString(), entry.key.toString(),
                      defaultValue);
}

bool put(const Entry &entry, const QString &value)
{
    return SaveSetting(Version::fileDescription(), entry.section.toString(), entry.key.toString(),
                       value);
}

// Nearest value of T, halves to even; nothing when it does not fit.
template <typename T> std::optional<T> roundToEven(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = IP_Functions::roundHalfEven(value);
    if (rounded < double(std::numeric_limits<T>::min()) ||
        rounded > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return T(rounded);
}

template <typename T> T inRange(std::optional<T> value, ScanSettings::Range range, T fallback)
{
    return value && range.contains(*value) ? *value : fallback;
}

} // namespace

QString fileName(const QString &application)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
           application + u'/' + application + u".conf"_s;
}

QString GetSetting(const QString &application, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    QSettings store(fileName(application), QSettings::IniFormat);
    store.beginGroup(section);
    if (!store.contains(key))
        return defaultValue;
    const QVariant value = store.value(key);
    // An unquoted comma makes the INI reader split the text; the entry was one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

bool SaveSetting(const QString &application, const QString &section, const QString &key,
                 const QString &value)
{
    if (!saveRefusal(application).isEmpty())
        return false;
    QSettings store(fileName(application), QSettings::IniFormat);
    store.beginGroup(section);
    store.setValue(key, value);
    store.endGroup();
    store.sync();
    if (store.status() != QSettings::FormatError)
        return store.status() == QSettings::NoError;
    // A malformed line in the old file is reported even when the new one was written: what
    // counts is whether the value reads back.
    return GetSetting(application, section, key, {}) == value;
}

QString saveRefusal(const QString &application)
{
    const QString path = fileName(application);
    // A missing folder is made by the first save.
    if (!QFileInfo::exists(QFileInfo(path).path()))
        return {};
    return AtomicFile::refusal(path);
}

std::optional<std::int16_t> toInt16(const QString &text)
{
    return roundToEven<std::int16_t>(IP_Functions::Read_Number(text));
}

std::optional<std::int32_t> toInt32(const QString &text)
{
    return roundToEven<std::int32_t>(IP_Functions::Read_Number(text));
}

std::optional<bool> toBoolean(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(u"True"_s, Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(u"False"_s, Qt::CaseInsensitive) == 0)
        return false;
    // Only a text that is a number as a whole counts; "1abc" is no Boolean.
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (!isNumber || !std::isfinite(number))
        return std::nullopt;
    return number != 0.0;
}

QString booleanText(bool value)
{
    return value ? u"True"_s : u"False"_s;
}

ScanSettings loadScanSettings()
{
    const ScanSettings defaults;
    ScanSettings s;
    s.Pings_per_Node = inRange(toInt16(get(PingsEntry, QString::number(defaults.Pings_per_Node))),
                               ScanSettings::Pings_Range, defaults.Pings_per_Node);
    s.Ping_Timeout = inRange(toInt32(get(TimeoutEntry, QString::number(defaults.Ping_Timeout))),
                             ScanSettings::Timeout_Range, defaults.Ping_Timeout);
    s.Ping_TTL = inRange(toInt32(get(TTLEntry, QString::number(defaults.Ping_TTL))),
                         ScanSettings::TTL_Range, defaults.Ping_TTL);
    s.Inter_Ping_Delay =
        inRange(toInt32(get(DelayEntry, QString::number(defaults.Inter_Ping_Delay))),
                ScanSettings::Delay_Range, defaults.Inter_Ping_Delay);
    s.Resolve_DNS = toBoolean(get(ActiveEntry, booleanText(defaults.Resolve_DNS)))
                        .value_or(defaults.Resolve_DNS);
    s.Reverse_Scan = toBoolean(get(ReverseEntry, booleanText(defaults.Reverse_Scan)))
                         .value_or(defaults.Reverse_Scan);
    s.listArpOnly = toBoolean(get(ArpOnlyEntry, booleanText(defaults.listArpOnly)))
                        .value_or(defaults.listArpOnly);
    return s;
}

bool saveScanSettings(const ScanSettings &settings, QString *reason)
{
    // Every entry is attempted even after a failure, so one bad write loses no others.
    bool saved = put(PingsEntry, QString::number(settings.Pings_per_Node));
    saved = put(TimeoutEntry, QString::number(settings.Ping_Timeout)) && saved;
    saved = put(TTLEntry, QString::number(settings.Ping_TTL)) && saved;
    saved = put(DelayEntry, QString::number(settings.Inter_Ping_Delay)) && saved;
    saved = put(ActiveEntry, booleanText(settings.Resolve_DNS)) && saved;
    saved = put(ReverseEntry, booleanText(settings.Reverse_Scan)) && saved;
    saved = put(ArpOnlyEntry, booleanText(settings.listArpOnly)) && saved;
    if (!saved && reason) {
        *reason = saveRefusal(Version::fileDescription());
        if (reason->isEmpty())
            *reason = u"The file could not be written."_s;
    }
    return saved;
}

} // namespace SettingsStore
