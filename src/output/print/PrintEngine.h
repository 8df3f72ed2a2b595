#pragma once

#include "output/print/ReportLayout.h"

#include <QAbstractScrollArea>

#include <functional>

class QPrinter;

// The print engine: holds one report document, shows one of its pages at a time as a
// preview area, and prints it. Its operations carry the names the report and the preview
// window use. Pages are painted on demand from the document, one at a time.
//
// Inside the preview area the wheel scrolls the shown page and turns to the next or previous
// page past its end, and Ctrl+wheel zooms in steps of ZoomStep between MinZoom and MaxZoom percent.
// Zoom changes made this way are told by PreviewChanged; page turns by PreviewChangeNotice, once
// with 1 before the page changes and once with 0 after.
class PrintEngine : public QAbstractScrollArea
{
    Q_OBJECT
public:
    static constexpr int MinZoom = 50;
    static constexpr int MaxZoom = 200;
    static constexpr int ZoomStep = 5;

    explicit PrintEngine(QWidget *parent = nullptr);

    QString PageHeader() const { return m_pageHeader; }
    void setPageHeader(const QString &text) { m_pageHeader = text; }
    QString PageFooter() const { return m_pageFooter; }
    void setPageFooter(const QString &rtf) { m_pageFooter = rtf; }
    // Our pages are row ranges, cheap to keep; the flag gates drawing on finished pages.
    bool KeepPages() const { return m_keepPages; }
    void setKeepPages(bool keep) { m_keepPages = keep; }

    int ZoomPercent() const { return m_zoom; }
    void setZoomPercent(int percent);
    int ShownPage() const { return m_shownPage; }
    void setShownPage(int page);

    void BeginDocument();
    // The grid's rows in `order` (table order when empty).
    void RenderGrid(const ResultGrid &grid, const ResultGrid::RowOrder &order = {});
    void EndDocument();
    int PageTotal() const { return m_document.pageCount(); }

    void BeginPageOverlay(int page);
    void EndPageOverlay();
    void DrawPicture(const QImage &picture, int left, int top, int right, int bottom);

    int LeftMargin() const { return ReportLayout::LeftMargin; }
    int BottomMargin() const { return ReportLayout::BottomMargin; }
    int PageHeight() const { return m_document.pageSize().height(); }

    // Asks for a printer (or a PDF file) and prints every page. A refused or failed job is
    // told in a message box; false then and when the user cancelled. A PDF file replaces an
    // existing one only when complete. The PDF file proposed is named after the whole page
    // header, in the folder last printed to.
    bool PrintAllPages();
    QString proposedFileName() const;

    // Test seam: the next PrintAllPages hands its printer to `setup` instead of showing the
    // print dialog; `setup` returns false to cancel. Used once, then the dialog is back.
    using PrinterSetup = std::function<bool(QPrinter &)>;
    static void setNextPrinterSetup(PrinterSetup setup);

Q_SIGNALS:
    void PreviewChanged(int zoomPercent);
    void PreviewChangeNotice(qint16 stage);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    bool printToFile(const QPrinter &printer);
    QSize shownPageSize() const; // pixels at the current zoom
    void updateScrollBars();
    void turnPage(int step);

    ReportLayout m_document;
    QString m_pageHeader;
    QString m_pageFooter;
    bool m_keepPages = false;
    int m_zoom = 100;
    int m_shownPage = 0;
    int m_overlayPage = 0;
    int m_wheelAngle = 0;
};
