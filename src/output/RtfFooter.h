#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>

// The report footer: three sections (left, centre, right) separated by '|', written in the
// small part of RTF the footer needs: groups, \fsN (size in half points), \b, \plain, \fN,
// \line (and \par), plus the escapes \\, \{, \} and \|. Anything else is ignored, so a
// malformed text still gives a footer, never a failure.
class RtfFooter
{
public:
    struct Run
    {
        QString text;       // may hold "%d", the page number's place
        int font = 0;       // number in the report's font table
        int halfPoints = 0; // 0: the footer font's own size
        bool bold = false;

        bool operator==(const Run &other) const = default;
    };
    using Line = QList<Run>;
    using Section = QList<Line>; // never empty: at least one (maybe empty) line

    static constexpr int SectionCount = 3;

    // Outside any group text has the footer font's own size and font 0, bold when baseBold;
    // \plain resets to that size and font, not bold.
    RtfFooter(const QString &rtf, bool baseBold);

    const Section &section(int index) const { return m_sections.at(std::size_t(index)); }

    // The program's footer for a report built at `moment`, stamped in the user's regional form.
    static QString footerTemplate(const QDateTime &moment);
    // Makes text safe to splice into a footer template.
    static QString escaped(const QString &text);
    static QString withPageNumber(const QString &text, int page);

private:
    std::array<Section, SectionCount> m_sections;
};
