#include "ui/SplashForm.h"

#include "app/Version.h"
#include "ui/SplashArtwork.h"
#include "widgets/Twips.h"
#include "widgets/WebLauncher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>

// The artwork lives in the widgets library, which is static: nothing else would pull its
// resources into the program.
static void loadArtwork()
{
    Q_INIT_RESOURCE(vantrel);
}

namespace {

// Design lengths, in twips.
constexpr int ClientWidth = 6795;
constexpr int ClientHeight = 3540;
constexpr int ArtworkLeft = 4800;
constexpr int ArtworkTop = 900;

QFont designFont(const QStringList &families, qreal points, bool bold)
{
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont arialBold(qreal points)
{
    return designFont({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                       QStringLiteral("Arimo"), QStringLiteral("Helvetica")},
                      points, true);
}

QFont dialogFont(qreal points, bool bold)
{
    return designFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")},
                      points, bold);
}

// Labels have no background of their own: the panel shows through.
QLabel *makeLabel(QWidget *parent, const QString &text, const QFont &font,
                  const QColor &colour = Qt::black)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QLabel *makePicture(QWidget *parent, const QPixmap &pixmap)
{
    auto *picture = new QLabel(parent);
    picture->setPixmap(pixmap);
    picture->resize(pixmap.deviceIndependentSize().toSize());
    return picture;
}

} // namespace

SplashForm::SplashForm(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    loadArtwork();
    createControls();
    nameControls();
    Form_Load();
}

int SplashForm::twipsToPixels(int twips) const
{
    return Twips::toPixels(*this, twips);
}

void SplashForm::createControls()
{
    // The font first: the layout scale comes from it.
    setFont(dialogFont(8.25, false));
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    // A light grey window of its own whatever the desktop's palette: its texts and the OK
    // button's caption are dark, or a dark palette's white would stand on light grey.
    QPalette grey = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        grey.setColor(group, QPalette::Window, QColor(192, 192, 192));
        grey.setColor(group, QPalette::Button, QColor(192, 192, 192));
        grey.setColor(group, QPalette::Light, QColor(255, 255, 255));
        grey.setColor(group, QPalette::Midlight, QColor(223, 223, 223));
        grey.setColor(group, QPalette::Mid, QColor(160, 160, 160));
        grey.setColor(group, QPalette::Dark, QColor(128, 128, 128));
        grey.setColor(group, QPalette::Shadow, QColor(64, 64, 64));
        grey.setColor(group, QPalette::WindowText, Qt::black);
        grey.setColor(group, QPalette::ButtonText, Qt::black);
        grey.setColor(group, QPalette::Text, Qt::black);
    }
    grey.setColor(QPalette::Disabled, QPalette::Window, QColor(192, 192, 192));
    grey.setColor(QPalette::Disabled, QPalette::Button, QColor(192, 192, 192));
    grey.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(96, 96, 96));
    setPalette(grey);

    BackPanel = new QFrame(this);
    BackPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    BackPanel->setAutoFillBackground(true);
    BackPanel->setMouseTracking(true);
    BackPanel->installEventFilter(this);

    // Drawn for this screen's pixel ratio, sharp when the desktop scales.
    Banner = makePicture(BackPanel, SplashArtwork::banner(devicePixelRatioF()));
    Banner->move((width() - Banner->width()) / 2, 2);
    Picture = makePicture(BackPanel, SplashArtwork::scope(devicePixelRatioF()));
    Picture->move(twipsToPixels(ArtworkLeft), twipsToPixels(ArtworkTop));

    Line1 = new QFrame(BackPanel);
    Line1->setFrameStyle(QFrame::HLine | QFrame::Plain);
    QPalette black = Line1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Line1->setPalette(black);
    Line1->setGeometry(twipsToPixels(120), twipsToPixels(780), twipsToPixels(6540 - 120), 1);

    // The title twice: the black copy, a little right of and below the red one, is its shadow.
    // Title and version lines end before the artwork on the right.
    Label4 = makeLabel(BackPanel, Version::fileDescription(), arialBold(21.75));
    Twips::place(*this, Label4, 750, 930, 3990, 495);
    Label3 = makeLabel(BackPanel, Version::fileDescription(), arialBold(21.75), Qt::red);
    Twips::place(*this, Label3, 720, 900, 3990, 495);

    Pgm_Icon = new QLabel(BackPanel);
    Pgm_Icon->setPixmap(programIcon().pixmap(32, 32));
    Twips::place(*this, Pgm_Icon, 120, 960, 480, 480);

    lblVersion = makeLabel(BackPanel, QString(), arialBold(9));
    Twips::place(*this, lblVersion, 780, 1500, 3195, 240);
    lblCompany = makeLabel(BackPanel, QString(), arialBold(9));
    Twips::place(*this, lblCompany, 780, 1740, 3195, 240);
    lblCopyright = makeLabel(BackPanel, QString(), arialBold(9));
    Twips::place(*this, lblCopyright, 780, 1980, 3195, 240);

    Label1 = makeLabel(BackPanel,
                       QStringLiteral("Visit ") + Version::companyName() +
                           QStringLiteral(" on the Internet at"),
                       font());
    Twips::place(*this, Label1, 780, 2640, 2520, 195);
    ZarnholtWebLink = makeLabel(BackPanel, Version::webSite(), dialogFont(8.25, true), Qt::blue);
    Twips::place(*this, ZarnholtWebLink, 3360, 2640, 2475, 195);
    // Exactly as wide as its text, so that the pointer is on the link only over the text.
    ZarnholtWebLink->resize(ZarnholtWebLink->sizeHint().width(), ZarnholtWebLink->height());
    ZarnholtWebLink->setCursor(Qt::PointingHandCursor);
    ZarnholtWebLink->setMouseTracking(true);
    ZarnholtWebLink->installEventFilter(this);

    Status = makeLabel(BackPanel, QString(), dialogFont(12, true));
    // Ends before the OK button of the About box.
    Twips::place(*this, Status, 780, 3000, 4080, 375);
    Status->installEventFilter(this);

    OK_Button = new QPushButton(BackPanel);
    Twips::place(*this, OK_Button, 4920, 3000, 1635, 375);
    OK_Button->hide();
    OK_Button->installEventFilter(this);
    connect(OK_Button, &QPushButton::clicked, this, &SplashForm::OK_Button_Click);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void SplashForm::Form_Load()
{
    lblVersion->setText(QStringLiteral("Version ") + Version::text());
    lblCopyright->setText(Version::legalCopyright());
    lblCompany->setText(Version::legalTrademarks());
    Status->clear();
    OK_Button->setText(QStringLiteral("OK"));
}

void SplashForm::WaitForUser()
{
    OK_Button->setText(QStringLiteral("OK"));
    OK_Button->show();
    Status->clear();
    show();
}

SplashForm *SplashForm::showAbout(QWidget *mainWindow)
{
    // One About box at a time; it goes when the main window goes.
    static QPointer<SplashForm> about;
    if (!about) {
        about = new SplashForm(mainWindow);
        about->setAttribute(Qt::WA_DeleteOnClose);
    }
    about->m_mainWindow = mainWindow;
    about->show();
    about->raise(); // an About box already open comes to the front
    about->activateWindow();
    QCoreApplication::processEvents();
    if (about)
        about->WaitForUser();
    return about;
}

void SplashForm::showStatus(const QString &text, int timeoutMs)
{
    Status->setText(text);
    if (!isVisible())
        return;
    QEventLoop wait;
    QTimer::singleShot(timeoutMs, &wait, &QEventLoop::quit);
    m_paintWait = &wait;
    wait.exec();
    m_paintWait = nullptr;
}

void SplashForm::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_paintWait)
        m_paintWait->quit();
}

QIcon SplashForm::programIcon()
{
    loadArtwork();
    QIcon icon;
    for (int size : {16, 32, 64, 128})
        icon.addFile(QStringLiteral(":/vantrel/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

void SplashForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void SplashForm::Form_Resize()
{
    BackPanel->setGeometry(rect());
}

bool SplashForm::eventFilter(QObject *watched, QEvent *event)
{
    // The loop ends once back in it, after this paint has been drawn and flushed.
    if (watched == Status && event->type() == QEvent::Paint && m_paintWait)
        m_paintWait->quit();
    if (watched == ZarnholtWebLink) {
        switch (event->type()) {
        case QEvent::Enter:
            setLinkUnderlined(true);
            break;
        case QEvent::MouseMove:
            setLinkUnderlined(true);
            return true; // not on to the panel, which would take the underline off again
        case QEvent::Leave:
            setLinkUnderlined(false);
            break;
        case QEvent::MouseButtonRelease: {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton &&
                ZarnholtWebLink->rect().contains(mouse->position().toPoint())) {
                ZarnholtWebLink_Click();
                return true;
            }
            break;
        }
        default:
            break;
        }
    } else if (watched == BackPanel && event->type() == QEvent::MouseMove) {
        setLinkUnderlined(false);
    } else if (watched == OK_Button && event->type() == QEvent::KeyPress) {
        // Key preview: a key meant for the button reaches the window first.
        Form_KeyPress(static_cast<QKeyEvent *>(event)->key());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SplashForm::keyPressEvent(QKeyEvent *event)
{
    Form_KeyPress(event->key());
}

void SplashForm::Form_KeyPress(int key)
{
    switch (key) {
    // A modifier alone is half of a key, or of a switch to another window.
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return;
    default:
        break;
    }
    // Esc is the OK button's key as well.
    if (key == Qt::Key_Escape && !OK_Button->isHidden())
        OK_Button_Click();
    else
        close();
}

void SplashForm::clearStatus()
{
    Status->clear();
}

void SplashForm::OK_Button_Click()
{
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
    close();
}

void SplashForm::ZarnholtWebLink_Click()
{
    const QPointer<SplashForm> self(this);
    setCursor(Qt::WaitCursor);
    ZarnholtWebLink->setCursor(Qt::WaitCursor);
    Status->setText(QStringLiteral("Loading Web Browser ..."));
    Globals::Open_Web_Page(this, Version::webSite());
    // The text and the hourglass stay up while the browser starts; a key may close the
    // window meanwhile.
    Globals::Pause_Seconds(3);
    if (!self)
        return;
    Status->clear();
    unsetCursor();
    ZarnholtWebLink->setCursor(Qt::PointingHandCursor);
}

void SplashForm::setLinkUnderlined(bool underlined)
{
    QFont font = ZarnholtWebLink->font();
    if (font.underline() == underlined)
        return;
    font.setUnderline(underlined);
    ZarnholtWebLink->setFont(font);
}

void SplashForm::nameControls()
{
    const std::pair<QObject *, const char *> controls[] = {
        {BackPanel, "BackPanel"},   {Banner, "Banner"},
        {Picture, "Picture"},       {Line1, "Line1"},
        {Label4, "Label4"},         {Label3, "Label3"},
        {Pgm_Icon, "Pgm_Icon"},     {lblVersion, "lblVersion"},
        {lblCompany, "lblCompany"}, {lblCopyright, "lblCopyright"},
        {Label1, "Label1"},         {ZarnholtWebLink, "ZarnholtWebLink"},
        {Status, "Status"},         {OK_Button, "OK_Button"},
    };
    for (const auto &[control, name] : controls)
        control->setObjectName(QLatin1StringView(name));
}
