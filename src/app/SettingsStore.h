#pragma once

#include "app/ScanSettings.h"

#include <QString>

#include <cstdint>
#include <optional>

// The per-user settings store: text values addressed by application, section and key. Each
// application has an INI file <config folder>/<application>/<application>.conf, for the
// program ~/.config/Vantrel/Vantrel.conf. The scan settings are read once at start-up
// and written only when the options dialog is confirmed. The windows keep their own
// sections beside them: where the main window was when it closed ("Window") and the folders
// last saved to ("Folders").
namespace SettingsStore {

// The stored text, or `defaultValue` when the key or its section is absent. Never writes,
// so reading an empty store leaves no file behind.
QString GetSetting(const QString &application, const QString &section, const QString &key,
                   const QString &defaultValue);
// Stores the text, creating the file, section and key as needed. False when the file could
// not be written.
bool SaveSetting(const QString &application, const QString &section, const QString &key,
                 const QString &value);

QString fileName(const QString &application);
// Why the store of `application` cannot be written (a read-only file or folder, something
// other than a file in its place), by the same rule as any file the program replaces; "" when
// it can.
QString saveRefusal(const QString &application);

// Conversions of stored texts; nullopt is a conversion failure. Numbers are read by the
// address functions' rule (blanks skipped, "." whatever the locale, 0 when there is no
// number) and rounded to the nearest integer, halves to even.
std::optional<std::int16_t> toInt16(const QString &text);
std::optional<std::int32_t> toInt32(const QString &text);
// "True"/"False" in any letter case, or a number: non-zero is true.
std::optional<bool> toBoolean(const QString &text);
// Exactly "True" or "False".
QString booleanText(bool value);

// The scan settings in store order. An absent entry, one that cannot be converted and one
// outside the options dialog's range each give that setting's default. The time-out and
// TTL are rounded to whole milliseconds and hops here, as the echo control takes integers;
// the write-back reads them back as integers with the same rounding, so what is stored
// later is unchanged by this. Never writes.
ScanSettings loadScanSettings();
// Writes every scan setting in store order. False when the store could not be written, with
// the reason in `reason` when given.
bool saveScanSettings(const ScanSettings &settings, QString *reason = nullptr);

} // namespace SettingsStore
