#pragma once

#include "output/RtfFooter.h"
#include "scan/components/ResultGrid.h"

#include <QFont>
#include <QImage>
#include <QPageSize>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

class QPagedPaintDevice;
class QPainter;

// The printed report as a document: a title on top of every page, the result table below it
// as a grid whose caption row heads every page, a footer in the bottom margin, and pictures
// drawn over finished pages. All lengths are twips from the page's top-left corner.
//
// The table is copied when it is added (cell texts share their storage with the grid), and
// pages are row ranges worked out by arithmetic and painted only when asked for, so even a
// document of thousands of pages costs little more than the table itself.
class ReportLayout
{
public:
    static constexpr int LeftMargin = 720;
    static constexpr int RightMargin = 720;
    static constexpr int TopMargin = 1080;
    static constexpr int BottomMargin = 1080;

    struct RowRange
    {
        qsizetype first = 0; // table numbering: data rows start at 1
        qsizetype count = 0;
    };
    struct Column
    {
        int left = 0;
        int width = 0;
        Qt::Alignment alignment;
    };

    explicit ReportLayout(const QPageSize &pageSize = QPageSize(QPageSize::A4));

    QSize pageSize() const { return m_pageTwips; }

    // Opens a new, empty document, dropping the earlier one.
    void begin(const QString &header, const QString &footerRtf);
    // Lays the whole grid into the open document, its rows in `order` (table order when
    // empty); a later call replaces the table.
    void addGrid(const ResultGrid &grid, const ResultGrid::RowOrder &order = {});
    // Closes the document: its pages are final from here on.
    void end();

    bool isOpen() const { return m_open; }
    const QString &header() const { return m_header; }
    int pageCount() const { return m_pageCount; } // 0 until the document is closed
    RowRange pageRows(int page) const;
    const std::vector<Column> &columns() const { return m_columns; }

    // Draws a picture scaled into `target` over a finished page; ignored for other pages.
    void addPicture(int page, const QImage &picture, const QRect &target);

    // `painter` maps twips to the device, origin at the page's top-left corner.
    void paintPage(QPainter &painter, int page) const;

    // Sets the device to this document's paper with no margins, so its pages need no scaling.
    void setUpDevice(QPagedPaintDevice &device) const;
    // Paints every page, each scaled to fit the device's page. False when the device refused
    // to start or to take another page.
    bool print(QPagedPaintDevice &device) const;

    static QFont bodyFont();
    static QFont headerFont();
    // The footer's font table: 0 is the header and footer font, 3 a sans serif.
    static QFont footerFont(int number, int halfPoints, bool bold);

private:
    struct Picture
    {
        QImage image;
        QRect target;
    };

    QString cell(qsizetype row, int col) const;
    // Column widths on paper for the added grid.
    std::vector<int> columnWidths(const ResultGrid &grid) const;
    static QColor inkOf(ResultGrid::Kind kind);
    void paintRow(QPainter &painter, qsizetype row, int top) const;
    void paintFooter(QPainter &painter, int page) const;

    QPageSize m_pageSize;
    QSize m_pageTwips;
    bool m_open = false;
    QString m_header;
    std::optional<RtfFooter> m_footer;

    std::vector<Column> m_columns;
    std::vector<QString> m_cells; // row-major, caption row first
    std::vector<ResultGrid::Kind> m_kinds;
    qsizetype m_rows = 0; // caption row included; 0 before a grid is added

    int m_rowHeight = 0;
    qsizetype m_rowsPerPage = 1;
    int m_pageCount = 0;
    std::vector<std::vector<Picture>> m_pictures; // index: page - 1
};
