#include "output/RtfFooter.h"

#include "app/GeneralDate.h"
#include "app/Version.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

struct Format
{
    int font = 0;
    int halfPoints = 0;
    bool bold = false;
};

// Sizes outside this range could only come from a broken text; they would make glyphs
// vanish or fill the page.
constexpr int MinHalfPoints = 2;
constexpr int MaxHalfPoints = 200;
constexpr int MaxFontNumber = 255;
// More digits than this can only be garbage, and would overflow an int.
constexpr int MaxParamDigits = 6;

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

RtfFooter::RtfFooter(const QString &rtf, bool baseBold)
{
    const Format base{0, 0, baseBold};
    Format format = base;
    QList<Format> groups;
    int sectionIndex = 0;
    for (Section &section : m_sections)
        section.append(Line());

    auto append = [&](QChar c) {
        Line &line = m_sections[std::size_t(sectionIndex)].last();
        if (!line.isEmpty()) {
            Run &last = line.last();
            if (last.font == format.font && last.halfPoints == format.halfPoints &&
                last.bold == format.bold) {
                last.text.append(c);
                return;
            }
        }
        line.append(Run{QString(c), format.font, format.halfPoints, format.bold});
    };

    const qsizetype size = rtf.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = rtf.at(i);
        if (c == u'{') {
            groups.append(format);
        } else if (c == u'}') {
            if (!groups.isEmpty())
                format = groups.takeLast();
        } else if (c == u'|') {
            if (sectionIndex + 1 < SectionCount)
                ++sectionIndex;
            else
                append(c);
        } else if (c == u'\r' || c == u'\n') {
            // Raw line ends carry no meaning in RTF.
        } else if (c != u'\\') {
            append(c);
        } else if (++i < size) {
            const QChar next = rtf.at(i);
            if (next == u'\\' || next == u'{' || next == u'}' || next == u'|') {
                append(next);
            } else if (isAsciiLetter(next)) {
                const qsizetype wordStart = i;
                while (i < size && isAsciiLetter(rtf.at(i)))
                    ++i;
                const QStringView word = QStringView(rtf).sliced(wordStart, i - wordStart);
                bool negative = i < size && rtf.at(i) == u'-';
                if (negative)
                    ++i;
                qsizetype digits = 0;
                int param = 0;
                for (; i < size && rtf.at(i).isDigit() && rtf.at(i).unicode() < 128; ++i) {
                    if (++digits <= MaxParamDigits)
                        param = param * 10 + (rtf.at(i).unicode() - u'0');
                }
                const bool hasParam = digits > 0;
                if (negative)
                    param = -param;
                // One blank ends a control word and belongs to it; any other character is text.
                if (i >= size || rtf.at(i) != u' ')
                    --i;

                if (word == u"fs" && hasParam) {
                    format.halfPoints = std::clamp(param, MinHalfPoints, MaxHalfPoints);
                } else if (word == u"b") {
                    format.bold = !hasParam || param != 0;
                } else if (word == u"plain") {
                    format = Format{0, 0, false};
                } else if (word == u"f" && hasParam) {
                    format.font = std::clamp(param, 0, MaxFontNumber);
                } else if (word == u"line" || word == u"par") {
                    m_sections[std::size_t(sectionIndex)].append(Line());
                }
            }
        }
    }
}

QString RtfFooter::escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\' || c == u'{' || c == u'}' || c == u'|')
            out.append(u'\\');
        out.append(c);
    }
    return out;
}

QString RtfFooter::footerTemplate(const QDateTime &moment)
{
    return u"{\\fs20\\b   "_s + escaped(Version::companyName()) + u' ' + escaped(Version::fileDescription()) +
           u" \\plain\\f3\\fs20  Version "_s + Version::text() + u"}||{\\fs20 "_s +
           escaped(generalDate(moment)) + u"}{\\fs20\\line Page %d }"_s;
}

QString RtfFooter::withPageNumber(const QString &text, int page)
{
    QString out = text;
    return out.replace(u"%d"_s, QString::number(page));
}
