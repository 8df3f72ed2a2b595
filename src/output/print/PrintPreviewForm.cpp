#include "output/print/PrintPreviewForm.h"

#include "output/RtfFooter.h"
#include "output/print/PrintEngine.h"
#include "widgets/Twips.h"
#include "widgets/WindowPlacement.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

// The logo lives in a static library's resources, which the linker keeps only when called.
static void initReportResources()
{
    Q_INIT_RESOURCE(report);
}

namespace {

constexpr int DesignClientWidth = 7140;
constexpr int DesignClientHeight = 7680;
constexpr int ToolbarHeight = 420;
constexpr int StatusBarHeight = 330;
constexpr int PanelWidth = 2540;
constexpr int ButtonWidth = 915;
constexpr int ButtonHeight = 255;
constexpr int ButtonTop = 60;
constexpr int FirstButtonLeft = 120;
constexpr int ButtonPitch = 1020;
constexpr int LogoSize = 200;   // twips, the logo's square on the page
constexpr int LogoOffset = 140; // twips below the printable area

QPointer<PrintPreviewForm> &loadedForm()
{
    static QPointer<PrintPreviewForm> form;
    return form;
}

std::function<QDateTime()> &reportClock()
{
    static std::function<QDateTime()> now;
    return now;
}

} // namespace

PrintPreviewForm::PrintPreviewForm(QWidget *owner)
    : QWidget(owner, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Vantrel Print Preview"_s);

    Toolbar = new QFrame(this);
    Toolbar->setFrameStyle(QFrame::Panel | QFrame::Raised);
    const struct
    {
        QPushButton *PrintPreviewForm::*button;
        QString caption;
        void (PrintPreviewForm::*click)();
    } buttons[] = {
        {&PrintPreviewForm::PrintButton, u"&Print"_s, &PrintPreviewForm::PrintButton_Click},
        {&PrintPreviewForm::NextPageButton, u"&Next Page"_s,
         &PrintPreviewForm::NextPageButton_Click},
        {&PrintPreviewForm::PrevPageButton, u"Pre&v Page"_s,
         &PrintPreviewForm::PrevPageButton_Click},
        {&PrintPreviewForm::ZoomInButton, u"Zoom &In"_s, &PrintPreviewForm::ZoomInButton_Click},
        {&PrintPreviewForm::ZoomOutButton, u"Zoom &Out"_s, &PrintPreviewForm::ZoomOutButton_Click},
        {&PrintPreviewForm::CloseButton, u"&Close"_s, &PrintPreviewForm::CloseButton_Click},
    };
    QPushButton *previous = nullptr;
    int left = FirstButtonLeft;
    for (const auto &entry : buttons) {
        QPushButton *button = new QPushButton(entry.caption, Toolbar);
        button->setAutoDefault(false);
        Twips::place(*this, button, left, ButtonTop, ButtonWidth, ButtonHeight);
        connect(button, &QPushButton::clicked, this, entry.click);
        if (previous)
            setTabOrder(previous, button);
        this->*entry.button = previous = button;
        left += ButtonPitch;
    }

    StatusBar = new QFrame(this);
    int panelLeft = 0;
    for (const QString &key : {u"Zoom"_s, u"Page"_s}) {
        QLabel *panel = new QLabel(StatusBar);
        panel->setObjectName(key);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Twips::place(*this, panel, panelLeft, 0, PanelWidth, StatusBarHeight);
        panelLeft += PanelWidth;
    }

    vsPrint = new PrintEngine(this);
    connect(vsPrint, &PrintEngine::PreviewChanged, this, &PrintPreviewForm::RefreshStatus);
    connect(vsPrint, &PrintEngine::PreviewChangeNotice, this, [this](qint16 stage) {
        if (stage == 0)
            RefreshStatus();
    });

    initReportResources();
    Logo.addFile(u":/report/report-logo-32.png"_s);
    Logo.addFile(u":/report/report-logo-16.png"_s);

    WindowPlacement::fitOnScreen(
        this, QSize(twipsToPixels(DesignClientWidth), twipsToPixels(DesignClientHeight)));
    Form_Resize();
    nameControls();
}

PrintPreviewForm *PrintPreviewForm::instance()
{
    return loadedForm();
}

void PrintPreviewForm::setClock(std::function<QDateTime()> now)
{
    reportClock() = std::move(now);
}

PrintPreviewForm &PrintPreviewForm::load(QWidget *owner)
{
    QPointer<PrintPreviewForm> &form = loadedForm();
    if (!form)
        form = new PrintPreviewForm(owner);
    return *form;
}

void PrintPreviewForm::PrintNow(QWidget *owner, const QString &startingText,
                                const QString &endingText, const ResultGrid &table,
                                const ResultGrid::RowOrder &order)
{
    PrintPreviewForm &form = load(owner);
    form.build(startingText, endingText, table, order);
    form.vsPrint->PrintAllPages();
    form.close();
}

void PrintPreviewForm::Preview(QWidget *owner, const QString &startingText,
                               const QString &endingText, const ResultGrid &table,
                               const ResultGrid::RowOrder &order)
{
    PrintPreviewForm &form = load(owner);
    form.build(startingText, endingText, table, order);
    form.RefreshStatus();
    const bool first = !form.isVisible();
    form.show();
    // The frame is known once shown: the whole window, frame included, onto the screen.
    if (first)
        WindowPlacement::keepOnScreen(&form);
    form.raise();
    form.activateWindow();
}

void PrintPreviewForm::build(const QString &startingText, const QString &endingText,
                             const ResultGrid &table, const ResultGrid::RowOrder &order)
{
    const QDateTime now = reportClock() ? reportClock()() : QDateTime::currentDateTime();
    vsPrint->setPageHeader(u"Vantrel from "_s + startingText + u" to "_s + endingText);
    vsPrint->setPageFooter(RtfFooter::footerTemplate(now));
    vsPrint->setKeepPages(true);
    vsPrint->setZoomPercent(100);
    vsPrint->BeginDocument();
    vsPrint->RenderGrid(table, order);
    vsPrint->EndDocument();

    const QImage logo = Logo.pixmap(QSize(32, 32)).toImage();
    for (int page = 1; page <= vsPrint->PageTotal(); ++page) {
        vsPrint->BeginPageOverlay(page);
        const int x = vsPrint->LeftMargin();
        const int y = vsPrint->PageHeight() - vsPrint->BottomMargin() + LogoOffset;
        vsPrint->DrawPicture(logo, x, y, x + LogoSize, y + LogoSize);
        vsPrint->EndPageOverlay();
    }
}

QLabel *PrintPreviewForm::Panel(const QString &key) const
{
    return StatusBar->findChild<QLabel *>(key, Qt::FindDirectChildrenOnly);
}

void PrintPreviewForm::RefreshStatus()
{
    const int page = vsPrint->ShownPage();
    const int zoom = vsPrint->ZoomPercent();
    Panel(u"Page"_s)->setText(u"Page "_s + QString::number(page));
    Panel(u"Zoom"_s)->setText(u"Zoom "_s + QString::number(zoom) + u'%');
    PrevPageButton->setEnabled(page != 1);
    NextPageButton->setEnabled(page != vsPrint->PageTotal());
    ZoomOutButton->setEnabled(zoom - PrintEngine::ZoomStep >= PrintEngine::MinZoom);
    ZoomInButton->setEnabled(zoom < PrintEngine::MaxZoom);
}

void PrintPreviewForm::PrintButton_Click()
{
    setCursor(Qt::WaitCursor);
    vsPrint->PrintAllPages();
    unsetCursor();
}

void PrintPreviewForm::NextPageButton_Click()
{
    vsPrint->setShownPage(vsPrint->ShownPage() + 1);
    RefreshStatus();
}

void PrintPreviewForm::PrevPageButton_Click()
{
    vsPrint->setShownPage(vsPrint->ShownPage() - 1);
    RefreshStatus();
}

void PrintPreviewForm::ZoomInButton_Click()
{
    vsPrint->setZoomPercent(vsPrint->ZoomPercent() + PrintEngine::ZoomStep);
    RefreshStatus();
}

void PrintPreviewForm::ZoomOutButton_Click()
{
    vsPrint->setZoomPercent(vsPrint->ZoomPercent() - PrintEngine::ZoomStep);
    RefreshStatus();
}

void PrintPreviewForm::CloseButton_Click()
{
    close();
}

void PrintPreviewForm::keyPressEvent(QKeyEvent *event)
{
    // Esc presses the Close button, as the window's cancel button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        CloseButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PrintPreviewForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void PrintPreviewForm::closeEvent(QCloseEvent *event)
{
    // Unloading: from here on the next build makes a new window.
    if (loadedForm() == this)
        loadedForm() = nullptr;
    event->accept();
}

void PrintPreviewForm::Form_Resize()
{
    const int toolbarHeight = twipsToPixels(ToolbarHeight);
    const int statusBarHeight = twipsToPixels(StatusBarHeight);
    Toolbar->setGeometry(0, 0, width(), toolbarHeight);
    StatusBar->setGeometry(0, height() - statusBarHeight, width(), statusBarHeight);
    // A window narrower than the design (a large font on a small screen) keeps all six
    // buttons in the strip, each narrower by the same share.
    const int left = twipsToPixels(FirstButtonLeft);
    const int designRow = twipsToPixels(5 * ButtonPitch + ButtonWidth);
    const double share = std::min(1.0, double(std::max(0, width() - 2 * left)) / designRow);
    QPushButton *const buttons[] = {PrintButton,  NextPageButton, PrevPageButton,
                                    ZoomInButton, ZoomOutButton,  CloseButton};
    for (int i = 0; i < 6; ++i) {
        buttons[i]->setGeometry(left + int(std::lround(i * twipsToPixels(ButtonPitch) * share)),
                                twipsToPixels(ButtonTop),
                                int(std::lround(twipsToPixels(ButtonWidth) * share)),
                                twipsToPixels(ButtonHeight));
    }
    // Too low a window leaves no room: the preview area then keeps its place and size.
    const int previewHeight = height() - (statusBarHeight + toolbarHeight);
    if (previewHeight < 0)
        return;
    vsPrint->setGeometry(0, toolbarHeight, width(), previewHeight);
}

int PrintPreviewForm::twipsToPixels(int twips) const
{
    return Twips::toPixels(*this, twips);
}

void PrintPreviewForm::nameControls()
{
    const std::pair<QObject *, const char *> controls[] = {
        {Toolbar, "Toolbar"},
        {PrintButton, "PrintButton"},
        {NextPageButton, "NextPageButton"},
        {PrevPageButton, "PrevPageButton"},
        {ZoomInButton, "ZoomInButton"},
        {ZoomOutButton, "ZoomOutButton"},
        {CloseButton, "CloseButton"},
        {StatusBar, "StatusBar"},
        {vsPrint, "vsPrint"},
    };
    for (const auto &[control, name] : controls)
        control->setObjectName(QLatin1StringView(name));
}
