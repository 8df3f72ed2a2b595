#include "output/print/PrintEngine.h"

#include "app/AtomicFile.h"
#include "widgets/LastFolder.h"
#include "widgets/MessageBox.h"
#include "widgets/Twips.h"

#include <QDir>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr int PageGap = 12;     // pixels of desk around the shown page
constexpr int WheelNotch = 120; // angleDelta of one notch of a common wheel

PrintEngine::PrinterSetup &nextPrinterSetup()
{
    static PrintEngine::PrinterSetup setup;
    return setup;
}

// The paper of the default printer, else the paper usual where the user lives.
QPageSize defaultPaper()
{
    const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
    if (!printer.isNull() && printer.defaultPageSize().isValid())
        return printer.defaultPageSize();
    return QPageSize(QLocale().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                                : QPageSize::A4);
}

} // namespace

PrintEngine::PrintEngine(QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_document(defaultPaper())
{
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(false);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);
}

void PrintEngine::setNextPrinterSetup(PrinterSetup setup)
{
    nextPrinterSetup() = std::move(setup);
}

void PrintEngine::setZoomPercent(int percent)
{
    percent = std::clamp(percent, MinZoom, MaxZoom);
    if (percent == m_zoom)
        return;
    m_zoom = percent;
    updateScrollBars();
    viewport()->update();
}

void PrintEngine::setShownPage(int page)
{
    page = PageTotal() > 0 ? std::clamp(page, 1, PageTotal()) : 0;
    if (page == m_shownPage)
        return;
    m_shownPage = page;
    viewport()->update();
}

void PrintEngine::BeginDocument()
{
    m_document.begin(m_pageHeader, m_pageFooter);
    m_shownPage = 0;
    m_overlayPage = 0;
    viewport()->update();
}

void PrintEngine::RenderGrid(const ResultGrid &grid, const ResultGrid::RowOrder &order)
{
    m_document.addGrid(grid, order);
}

void PrintEngine::EndDocument()
{
    m_document.end();
    m_shownPage = PageTotal() > 0 ? 1 : 0;
    updateScrollBars();
    viewport()->update();
}

void PrintEngine::BeginPageOverlay(int page)
{
    const bool finished = !m_document.isOpen() && page >= 1 && page <= PageTotal();
    m_overlayPage = m_keepPages && finished ? page : 0;
}

void PrintEngine::EndPageOverlay()
{
    if (m_overlayPage != 0 && m_overlayPage == m_shownPage)
        viewport()->update();
    m_overlayPage = 0;
}

void PrintEngine::DrawPicture(const QImage &picture, int left, int top, int right, int bottom)
{
    if (m_overlayPage != 0)
        m_document.addPicture(m_overlayPage, picture, QRect(left, top, right - left, bottom - top));
}

bool PrintEngine::PrintAllPages()
{
    if (m_document.isOpen() || PageTotal() == 0)
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    m_document.setUpDevice(printer);
    printer.setDocName(m_document.header());
    // The dialog would make its file name of the document name cut at its last dot, and an
    // address range has several. Naming the file makes the printer a PDF one, so a real
    // printer, where there is one, is chosen again as the dialog's first choice.
    printer.setOutputFileName(proposedFileName());
    if (!QPrinterInfo::defaultPrinter().isNull())
        printer.setOutputFormat(QPrinter::NativeFormat);

    bool accepted = false;
    if (PrinterSetup setup = std::exchange(nextPrinterSetup(), {})) {
        accepted = setup(printer);
    } else {
        QPrintDialog dialog(&printer, window());
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted)
        return false;
    if (!printer.isValid()) {
        MessageBox::exclamation(window(), u"There is no printer to print the report on."_s);
        return false;
    }
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        return printToFile(printer);
    if (!m_document.print(printer) || printer.printerState() == QPrinter::Error) {
        MessageBox::exclamation(window(), u"The report could not be printed: the printer or the "
                                          u"file refused the job."_s);
        return false;
    }
    return true;
}

bool PrintEngine::printToFile(const QPrinter &printer)
{
    // The printer's own file output neither notices a full disk nor spares an existing file;
    // the same PDF written through AtomicFile does both.
    const QString path = printer.outputFileName();
    AtomicFile file(path);
    bool printed = file.open();
    if (printed) {
        QPdfWriter pdf(&file.device());
        pdf.setPageLayout(printer.pageLayout());
        pdf.setResolution(printer.resolution());
        pdf.setTitle(printer.docName());
        pdf.setCreator(printer.creator());
        printed = m_document.print(pdf);
    }
    if (printed && file.commit()) {
        LastFolder::remember(u"Print"_s, path);
        return true;
    }
    const QString reason =
        file.errorString().isEmpty() ? u"The PDF could not be made."_s : file.errorString();
    MessageBox::exclamation(window(), u"The report could not be printed to \"%1\".\n%2"_s.arg(
                                          QDir::toNativeSeparators(path), reason));
    return false;
}

QString PrintEngine::proposedFileName() const
{
    // A slash typed into a range box must not make a folder of part of the name.
    QString name = m_document.header();
    name.replace(u'/', u'-');
    name.replace(QChar(0), u' ');
    if (name.trimmed().isEmpty())
        name = u"Vantrel"_s;
    QString folder = LastFolder::get(u"Print"_s);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return QDir(folder).filePath(name + u".pdf"_s);
}

QSize PrintEngine::shownPageSize() const
{
    const QSize twips = m_document.pageSize();
    return QSize(int(qint64(twips.width()) * logicalDpiX() * m_zoom / (Twips::PerInch * 100)),
                 int(qint64(twips.height()) * logicalDpiY() * m_zoom / (Twips::PerInch * 100)));
}

void PrintEngine::updateScrollBars()
{
    const QSize page = shownPageSize() + QSize(2 * PageGap, 2 * PageGap);
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, page.width() - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setRange(0, std::max(0, page.height() - view.height()));
    verticalScrollBar()->setPageStep(view.height());
}

void PrintEngine::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Dark));
    if (m_shownPage == 0 || m_document.isOpen())
        return;
    const QSize size = shownPageSize();
    const int spare = viewport()->width() - size.width();
    const int left = spare >= 2 * PageGap ? spare / 2 : PageGap - horizontalScrollBar()->value();
    const QRect page(left, PageGap - verticalScrollBar()->value(), size.width(), size.height());
    painter.fillRect(page.translated(3, 3), palette().color(QPalette::Shadow));
    painter.fillRect(page, Qt::white);
    painter.setClipRect(page & event->rect());
    painter.translate(page.topLeft());
    painter.scale(qreal(size.width()) / m_document.pageSize().width(),
                  qreal(size.height()) / m_document.pageSize().height());
    painter.setRenderHint(QPainter::Antialiasing);
    m_document.paintPage(painter, m_shownPage);
}

void PrintEngine::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void PrintEngine::turnPage(int step)
{
    Q_EMIT PreviewChangeNotice(1);
    setShownPage(m_shownPage + step);
    Q_EMIT PreviewChangeNotice(0);
}

void PrintEngine::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (m_shownPage == 0 || delta == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        m_wheelAngle += delta;
        const int notches = m_wheelAngle / WheelNotch;
        m_wheelAngle -= notches * WheelNotch;
        const int zoom = m_zoom;
        setZoomPercent(m_zoom + notches * ZoomStep);
        if (m_zoom != zoom)
            Q_EMIT PreviewChanged(m_zoom);
        event->accept();
        return;
    }
    // Past either end of the shown page the wheel goes on into the next or previous one.
    QScrollBar *bar = verticalScrollBar();
    const int step = delta < 0 ? 1 : -1;
    const bool atEnd = step > 0 ? bar->value() >= bar->maximum() : bar->value() <= bar->minimum();
    if (!atEnd) {
        m_wheelAngle = 0;
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    event->accept();
    m_wheelAngle += delta;
    if (std::abs(m_wheelAngle) < WheelNotch)
        return;
    m_wheelAngle = 0;
    const int page = m_shownPage + step;
    if (page < 1 || page > PageTotal())
        return;
    turnPage(step);
    bar->setValue(step > 0 ? bar->minimum() : bar->maximum());
}
