#include "app/GeneralDate.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Adapts a locale's format to the general date form: the time zone goes (the stamp is local
// time by definition), together with its brackets and the blank that set it apart; a
// two-digit year becomes four digits so that a stamp never leaves the century open.
QString generalFormat(const QString &format)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || (c != u't' && c != u'y')) {
            out += c;
            continue;
        }
        qsizetype end = i + 1;
        while (end < format.size() && format[end] == c)
            ++end;
        const qsizetype run = end - i;
        i = end - 1;
        if (c == u'y') {
            out += run == 2 ? u"yyyy"_s : QString(run, u'y');
            continue;
        }
        if (out.endsWith(u'(') && end < format.size() && format[end] == u')') {
            out.chop(1);
            ++i;
        }
        if (!out.isEmpty() && out.back().isSpace()) {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
        } else {
            while (i + 1 < format.size() && format[i + 1].isSpace())
                ++i;
        }
    }
    return out;
}

} // namespace

QString generalDate(const QDateTime &when, const QLocale &locale)
{
    const QString date = generalFormat(locale.dateFormat(QLocale::ShortFormat));
    // The stamp shows whole seconds, so anything within the first second reads as midnight.
    if (when.time().msecsSinceStartOfDay() < 1000)
        return locale.toString(when.date(), date);
    return locale.toString(when,
                           date + u' ' + generalFormat(locale.timeFormat(QLocale::LongFormat)));
}
