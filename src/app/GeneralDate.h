#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// The general date form of `locale`: short date, a blank, long time; the date alone at
// exactly midnight. Every stamp the program writes or shows uses it (export, report footer,
// scan history).
QString generalDate(const QDateTime &when, const QLocale &locale = QLocale());
