#include "ui/MainForm.h"

#include "app/GeneralDate.h"
#include "app/ScanSettings.h"
#include "app/SettingsStore.h"
#include "app/Version.h"
#include "history/ScanRecorder.h"
#include "output/print/PrintPreviewForm.h"
#include "scan/AddressRange.h"
#include "scan/ScanEngine.h"
#include "scan/components/EchoControl.h"
#include "scan/components/LookupControl.h"
#include "scan/components/NeighbourControl.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/ExportAction.h"
#include "ui/OptionsForm.h"
#include "ui/PercentPanel.h"
#include "ui/ResultTableView.h"
#include "ui/SplashForm.h"
#include "ui/TableActions.h"
#include "widgets/Hourglass.h"
#include "widgets/MessageBox.h"
#include "widgets/Twips.h"
#include "widgets/WebLauncher.h"
#include "widgets/WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

namespace {

// Design lengths of the window, in twips.
constexpr int DesignClientWidth = 6090;
constexpr int DesignClientHeight = 750;
constexpr int StatusBarHeight = 360;
constexpr int TableTop = 780;
constexpr int Starting_IP_Top = 60;
constexpr int FindBoxGap = 60;
// A pause in typing before the table is narrowed: a large table is filtered once, not per key.
constexpr int FindDelayMs = 150;

QLabel *makePanel(QWidget *parent, const QString &caption, Qt::Alignment alignment)
{
    auto *panel = new QLabel(caption, parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(alignment | Qt::AlignVCenter);
    return panel;
}

} // namespace

MainForm::MainForm(std::unique_ptr<EchoControl> echo, std::unique_ptr<LookupControl> lookup,
                   QWidget *parent)
    : QMainWindow(parent)
    , m_echo(std::move(echo))
    , m_lookup(std::move(lookup))
    , m_grid(std::make_unique<ResultGrid>())
    , m_endProgram([] { QCoreApplication::quit(); })
{
    m_engine = std::make_unique<ScanEngine>(*m_echo, *m_lookup, *m_grid, *this);
    createControls();
    createMenus();
    m_tableActions = new TableActions(*this, *TableView, *m_grid, *m_echo, *TablePopup);
    const auto wire = [this](QAction *entry, void (TableActions::*click)()) {
        connect(entry, &QAction::triggered, m_tableActions, click);
    };
    wire(CopyPopup, &TableActions::CopyPopup_Click);
    wire(DeletePopup, &TableActions::DeletePopup_Click);
    wire(ClearSelection, &TableActions::ClearSelection_Click);
    wire(PingPopup, &TableActions::PingPopup_Click);
    wire(TelnetPopup, &TableActions::TelnetPopup_Click);
    wire(BrowsePopup, &TableActions::BrowsePopup_Click);
    nameControls();
    m_exitTimer.setInterval(500);
    connect(&m_exitTimer, &QTimer::timeout, this, &MainForm::Exit_Timer_Timer);
    connect(m_lookup.get(), &LookupControl::problem, this,
            [this](const QString &message) { MessageBox::exclamation(this, message); });
    connect(m_engine.get(), &ScanEngine::scanStarting, this, &MainForm::historyScanStarting);
    connect(m_engine.get(), &ScanEngine::scanEnded, this, [this](bool completed) {
        if (m_history)
            m_history->scanEnded(completed);
        // An open comparison of a running scan covered only part of it.
        if (m_compareForm && m_compareForm->isVisible())
            refreshComparison();
    });
    // Every scan lists in arrival order until the user sorts again.
    connect(m_engine.get(), &ScanEngine::scanStarting, TableView, &ResultTableView::resetOrder);
    Form_Load();
    fitColumns();
    restorePlacement();
}

void MainForm::fitColumns()
{
    // Wide enough to show every column (the hardware address and maker after the first
    // three) where the screen has room; never narrower than the design.
    int columns = 0;
    for (int col = 0; col < m_grid->Cols(); ++col)
        columns += twipsToPixels(m_grid->ColWidth(col));
    const int frame = 2 * TableView->frameWidth() +
                      style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, TableView);
    const int wanted = columns + frame + 2 * TableView->x();
    const int room = WindowPlacement::largestInnerSize(this).width();
    if (wanted > width())
        resize(std::min(wanted, std::max(width(), room)), height());
}

// The history writes what came late, or a scan cut short by closing, while the table is
// still there; the engine disconnects from the controls before they go.
MainForm::~MainForm()
{
    // No message box may open on a window being taken apart.
    if (m_history)
        m_history->disconnect(this);
    if (m_history && m_engine->isRunning())
        m_history->scanEnded(false);
    m_grid->setAddressMark({});
    m_history.reset();
    m_engine.reset();
}

namespace {

// The mark of an address the earlier scan did not list: a small green disc with a plus,
// drawn for each device pixel ratio up to 3 so that it stays sharp on scaled screens.
QIcon newAddressIcon()
{
    QIcon icon;
    for (int ratio = 1; ratio <= 3; ++ratio) {
        QPixmap pixmap(16 * ratio, 16 * ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(ratio, ratio);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 150, 60));
        painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(QPointF(8, 4.5), QPointF(8, 11.5));
        painter.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

void MainForm::setNeighbours(std::unique_ptr<NeighbourControl> neighbours)
{
    m_engine->setNeighbours(neighbours.get());
    m_neighbours = std::move(neighbours);
}

bool MainForm::openHistory(const QString &path)
{
    m_history = std::make_unique<ScanRecorder>(*m_grid);
    m_history->setRowReady(
        [this](qsizetype row) { return !m_engine->hardwarePending(m_grid->cellText(row, 0)); });
    connect(m_history.get(), &ScanRecorder::problem, this,
            [this](const QString &message) { MessageBox::exclamation(this, message); });
    if (!m_history->open(path.isEmpty() ? ScanHistory::defaultPath() : path))
        return false;
    m_grid->setAddressMark(
        [this, icon = newAddressIcon()](const QString &address, int role) -> QVariant {
            if (!m_history || !m_history->isNew(address))
                return {};
            if (role == Qt::DecorationRole)
                return icon;
            return QString(QStringLiteral("New since ") +
                           generalDate(m_history->previousScan()->started));
        });
    return true;
}

void MainForm::historyScanStarting()
{
    if (!m_history)
        return;
    m_history->scanStarting(IP_Functions::Number_To_Address(m_engine->startAddress()),
                            IP_Functions::Number_To_Address(m_engine->endAddress()), settings());
    CompareSelection->setEnabled(m_history->previousScan().has_value());
    // Once the table is cleared for the new scan.
    if (m_compareForm && m_compareForm->isVisible())
        QTimer::singleShot(0, this, &MainForm::refreshComparison);
}

int MainForm::twipsToPixels(int twips) const
{
    return Twips::toPixels(*this, twips);
}

int MainForm::pixelsToTwips(int pixels) const
{
    return Twips::fromPixels(*this, pixels);
}

int MainForm::textWidthTwips(const QString &text) const
{
    return pixelsToTwips(QFontMetrics(font()).horizontalAdvance(text));
}

void MainForm::nameControls()
{
    const std::pair<QObject *, const char *> controls[] = {
        {Label1, "Label1"},
        {Starting_IP, "Starting_IP"},
        {Label2, "Label2"},
        {Ending_IP, "Ending_IP"},
        {Scan_Button, "Scan_Button"},
        {TableView, "TableView"},
        {FindBox, "FindBox"},
        {FindAction, "FindAction"},
        {StatusBar, "StatusBar"},
        {IP_Status, "IP_Status"},
        {SSPanel2, "SSPanel2"},
        {ICMP_Percent, "ICMP_Percent"},
        {SSPanel1, "SSPanel1"},
        {DNS_Percent, "DNS_Percent"},
        {NodeCount, "NodeCount"},
        {FileMenu, "FileMenu"},
        {ExportSelection, "ExportSelection"},
        {CompareSelection, "CompareSelection"},
        {ClearSelection, "ClearSelection"},
        {PrintSelection, "PrintSelection"},
        {PrintPreviewSelection, "PrintPreviewSelection"},
        {ExitSelection, "ExitSelection"},
        {OptionsMenu, "OptionsMenu"},
        {ScanOptionsSelection, "ScanOptionsSelection"},
        {HelpMenu, "HelpMenu"},
        {ZarnholtWebMenu, "ZarnholtWebMenu"},
        {UpdatesSelection, "UpdatesSelection"},
        {FAQSelection, "FAQSelection"},
        {FeedbackSelection, "FeedbackSelection"},
        {BugListSelection, "BugListSelection"},
        {BugReportSelection, "BugReportSelection"},
        {AboutSelection, "AboutSelection"},
        {TablePopup, "TablePopup"},
        {CopyPopup, "CopyPopup"},
        {DeletePopup, "DeletePopup"},
        {PingPopup, "PingPopup"},
        {TelnetPopup, "TelnetPopup"},
        {BrowsePopup, "BrowsePopup"},
    };
    for (const auto &[control, name] : controls)
        control->setObjectName(QLatin1StringView(name));
}

void MainForm::createControls()
{
    m_client = new QWidget(this);
    setCentralWidget(m_client);

    // The boxes stand a little further right than in the first design, and the labels end
    // before them and share their lines, so a label never runs under a box or the table.
    Label1 = new QLabel(QStringLiteral("Starting IP Address"), m_client);
    Twips::place(*this, Label1, 60, 60, 1560, 315);
    Starting_IP = new QLineEdit(m_client);
    Twips::place(*this, Starting_IP, 1680, 60, 1755, 315);
    Label2 = new QLabel(QStringLiteral("Ending IP Address"), m_client);
    Twips::place(*this, Label2, 60, 420, 1560, 315);
    Ending_IP = new QLineEdit(m_client);
    Twips::place(*this, Ending_IP, 1680, 420, 1755, 315);
    Scan_Button = new QPushButton(QStringLiteral("Scan"), m_client);
    Scan_Button->setAutoDefault(false);
    Scan_Button->setDefault(false);
    Twips::place(*this, Scan_Button, 3960, 60, 915, 675);
    setTabOrder(Starting_IP, Ending_IP);
    setTabOrder(Ending_IP, Scan_Button);
    Starting_IP->installEventFilter(this);
    Ending_IP->installEventFilter(this);
    Scan_Button->installEventFilter(this);
    connect(Scan_Button, &QPushButton::clicked, this, &MainForm::Scan_Button_Click);

    TableView = new ResultTableView(m_grid.get(), m_client);
    Twips::place(*this, TableView, 60, TableTop, 4275, 3915);
    setTabOrder(Scan_Button, TableView);
    // The viewport narrows when the vertical scroll bar appears: column 2 follows it.
    TableView->viewport()->installEventFilter(this);
    createFindBox();

    StatusBar = new QFrame(m_client);
    StatusBar->setFrameStyle(QFrame::Panel | QFrame::Raised);
    // IP_Status is wide enough for its longest text, "Waiting on replies ..."; the panels
    // after it move right, still inside the design width.
    IP_Status = makePanel(StatusBar, QString(), Qt::AlignLeft);
    Twips::place(*this, IP_Status, 60, 60, 1635, 255);
    SSPanel2 = makePanel(StatusBar, QStringLiteral("Scan"), Qt::AlignHCenter);
    Twips::place(*this, SSPanel2, 1770, 60, 495, 255);
    ICMP_Percent = new PercentPanel(StatusBar);
    Twips::place(*this, ICMP_Percent, 2310, 60, 1035, 255);
    SSPanel1 = makePanel(StatusBar, QStringLiteral("DNS"), Qt::AlignHCenter);
    Twips::place(*this, SSPanel1, 3420, 60, 435, 255);
    DNS_Percent = new PercentPanel(StatusBar);
    Twips::place(*this, DNS_Percent, 3900, 60, 1035, 255);
    NodeCount = makePanel(StatusBar, QString(), Qt::AlignHCenter);
    Twips::place(*this, NodeCount, 5010, 60, 735, 255);

    setWindowTitle(QStringLiteral("Vantrel"));
    // Never smaller than the design, or the Scan button would slide over the boxes.
    m_client->setMinimumSize(twipsToPixels(DesignClientWidth), twipsToPixels(DesignClientHeight));
    resize(twipsToPixels(DesignClientWidth), twipsToPixels(DesignClientHeight));
}

void MainForm::createFindBox()
{
    FindBox = new QLineEdit(m_client);
    FindBox->setPlaceholderText(QStringLiteral("Find in the table (Esc closes)"));
    FindBox->setClearButtonEnabled(true);
    FindBox->hide();
    FindBox->installEventFilter(this);
    setTabOrder(TableView, FindBox);
    m_findDelay.setSingleShot(true);
    m_findDelay.setInterval(FindDelayMs);
    connect(FindBox, &QLineEdit::textChanged, &m_findDelay, qOverload<>(&QTimer::start));
    connect(&m_findDelay, &QTimer::timeout, this,
            [this] { TableView->setFindText(FindBox->text()); });
    FindAction = new QAction(this);
    FindAction->setShortcut(QKeySequence::Find);
    FindAction->setShortcutContext(Qt::WindowShortcut);
    addAction(FindAction);
    connect(FindAction, &QAction::triggered, this, &MainForm::FindAction_Triggered);
}

void MainForm::FindAction_Triggered()
{
    // There is no table to search before the first scan shows it.
    if (!Window_Grown)
        return;
    if (FindBox->isHidden()) {
        FindBox->show();
        placeTable();
    }
    FindBox->setFocus(Qt::ShortcutFocusReason);
    FindBox->selectAll();
}

void MainForm::hideFindBox()
{
    FindBox->clear();
    m_findDelay.stop();
    TableView->setFindText(QString());
    FindBox->hide();
    placeTable();
    TableView->setFocus(Qt::OtherFocusReason);
}

void MainForm::placeTable()
{
    // The find box takes the top of the table's place; the table keeps the rest.
    const int left = TableView->x();
    int top = twipsToPixels(TableTop);
    if (!FindBox->isHidden()) {
        const int height = FindBox->sizeHint().height();
        FindBox->setGeometry(left, top, std::max(0, m_client->width() - 2 * left), height);
        top += height + twipsToPixels(FindBoxGap);
    }
    TableView->move(left, top);
    Form_Resize();
}

void MainForm::createMenus()
{
    FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    ExportSelection = FileMenu->addAction(QStringLiteral("&Export ..."));
    ExportSelection->setEnabled(false);
    connect(ExportSelection, &QAction::triggered, this, &MainForm::ExportSelection_Click);
    CompareSelection = FileMenu->addAction(QStringLiteral("Compare with Previous Scan..."));
    CompareSelection->setEnabled(false);
    connect(CompareSelection, &QAction::triggered, this, &MainForm::CompareSelection_Click);
    ClearSelection = FileMenu->addAction(QStringLiteral("&Clear List"));
    ClearSelection->setEnabled(false);
    ClearSelection->setVisible(false);
    FileMenu->addSeparator();
    PrintSelection = FileMenu->addAction(QStringLiteral("&Print ..."));
    PrintSelection->setEnabled(false);
    connect(PrintSelection, &QAction::triggered, this, &MainForm::PrintSelection_Click);
    PrintPreviewSelection = FileMenu->addAction(QStringLiteral("Print Pre&view..."));
    PrintPreviewSelection->setEnabled(false);
    connect(PrintPreviewSelection, &QAction::triggered, this,
            &MainForm::PrintPreviewSelection_Click);
    FileMenu->addSeparator();
    ExitSelection = FileMenu->addAction(QStringLiteral("E&xit"));
    connect(ExitSelection, &QAction::triggered, this, &MainForm::ExitSelection_Click);

    OptionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    ScanOptionsSelection = OptionsMenu->addAction(QStringLiteral("&Scan Options ..."));
    connect(ScanOptionsSelection, &QAction::triggered, this, &MainForm::ScanOptionsSelection_Click);

    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    ZarnholtWebMenu = HelpMenu->addMenu(Version::companyName() + QStringLiteral(" &Web Site"));
    UpdatesSelection = ZarnholtWebMenu->addAction(QStringLiteral("Software &Updates ..."));
    FAQSelection = ZarnholtWebMenu->addAction(QStringLiteral("Frequently Asked Questions ..."));
    ZarnholtWebMenu->addSeparator();
    FeedbackSelection = ZarnholtWebMenu->addAction(QStringLiteral("Provide &Feedback ..."));
    BugListSelection = ZarnholtWebMenu->addAction(QStringLiteral("&View Bug List ..."));
    BugReportSelection = ZarnholtWebMenu->addAction(QStringLiteral("&Report a bug ..."));
    HelpMenu->addSeparator();
    AboutSelection = HelpMenu->addAction(QStringLiteral("&About Vantrel ..."));
    const auto webPage = [this](QAction *entry, const QString &page) {
        connect(entry, &QAction::triggered, this,
                [this, page] { Globals::openHelpPage(this, page); });
    };
    webPage(UpdatesSelection, QStringLiteral("/Updates.htm"));
    webPage(FAQSelection, QStringLiteral("/FAQ.htm"));
    webPage(FeedbackSelection, QStringLiteral("/Feedback.htm"));
    webPage(BugListSelection, QStringLiteral("/Bug-List.htm"));
    webPage(BugReportSelection, QStringLiteral("/Bug-Report.htm"));
    connect(AboutSelection, &QAction::triggered, this, [this] { SplashForm::showAbout(this); });

    // Never in the menu bar: it pops up over the table.
    TablePopup = new QMenu(QStringLiteral("TablePopup"), this);
    CopyPopup = TablePopup->addAction(QStringLiteral("&Copy"));
    DeletePopup = TablePopup->addAction(QStringLiteral("&Delete"));
    TablePopup->addSeparator();
    PingPopup = TablePopup->addAction(QStringLiteral("&Ping ..."));
    TelnetPopup = TablePopup->addAction(QStringLiteral("&Telnet ..."));
    BrowsePopup = TablePopup->addAction(QStringLiteral("&Browse ..."));

    // The design client height leaves room for the menu bar above it.
    resize(width(), twipsToPixels(DesignClientHeight) + menuBar()->sizeHint().height());
}

QString MainForm::echoBanner()
{
    return Version::fileDescription() + QStringLiteral(" Version ") + Version::text() + u' ' +
           Version::legalTrademarks() + u' ' + Version::legalCopyright() +
           QStringLiteral(": Visit ") + Version::webSite() + QStringLiteral(" for more details");
}

void MainForm::Form_Load()
{
    m_echo->setEchoData(echoBanner());
    // Which kind of ICMP socket is in use, or why there is none, is worth a glance.
    IP_Status->setToolTip(m_echo->isAvailable() ? QStringLiteral("ICMP: ") + m_echo->socketMode() +
                                                      QStringLiteral(" socket")
                                                : m_echo->unavailableReason());
    StatusBar->hide();
    Window_Grown = false;
    ResultGrid &table = *m_grid;
    table.setRows(1);
    // The hardware address and its maker follow the three columns of the first design.
    table.setCols(5);
    table.setColWidth(0, textWidthTwips(QStringLiteral("XXX.XXX.XXX.XXX   ")));
    table.setColWidth(1, textWidthTwips(QStringLiteral("Response Time        ")));
    table.setColWidth(2, textWidthTwips(QStringLiteral("XXXXXXXXXXXXXXXXXXXXXX")));
    table.setColWidth(3, textWidthTwips(QStringLiteral("00:00:00:00:00:00    ")));
    table.setColWidth(4, textWidthTwips(QStringLiteral("XXXXXXXXXXXXXXXXXXXXXX")));
    table.setRow(0);
    table.setCol(0);
    table.setColAlignment(0, 1);
    const QString captions[] = {QStringLiteral("IP Address"), QStringLiteral("Response Time"),
                                QStringLiteral("DNS Lookup"), QStringLiteral("MAC Address"),
                                QStringLiteral("Vendor")};
    for (int col = 0; col < 5; ++col) {
        table.setCol(col);
        table.setText(captions[col]);
    }
}

void MainForm::applySettings(const ScanSettings &settings)
{
    m_engine->Pings_per_Node = settings.Pings_per_Node;
    m_echo->setEchoTimeout(settings.Ping_Timeout);
    m_echo->setEchoTTL(settings.Ping_TTL);
    m_engine->setInter_Ping_Delay(settings.Inter_Ping_Delay);
    m_engine->Resolve_DNS = settings.Resolve_DNS;
    m_engine->Reverse_Scan = settings.Reverse_Scan;
    m_engine->listArpOnly = settings.listArpOnly;
}

ScanSettings MainForm::settings() const
{
    ScanSettings s;
    s.Pings_per_Node = m_engine->Pings_per_Node;
    s.Ping_Timeout = m_echo->EchoTimeout();
    s.Ping_TTL = m_echo->EchoTTL();
    s.Inter_Ping_Delay = m_engine->Inter_Ping_Delay();
    s.Resolve_DNS = m_engine->Resolve_DNS;
    s.Reverse_Scan = m_engine->Reverse_Scan;
    s.listArpOnly = m_engine->listArpOnly;
    return s;
}

QTimer &MainForm::PING_Timer()
{
    return m_engine->PING_Timer();
}

void MainForm::Scan_Button_Click()
{
    // A block or dash range typed into the starting box, with nothing in the ending box, is
    // written out into both boxes; whatever else the boxes hold keeps its usual meaning.
    if (!m_engine->isRunning() && Ending_IP->text().trimmed().isEmpty()) {
        const QString typed = Starting_IP->text();
        if (typed.contains(u'/') || typed.contains(u'-')) {
            if (const auto range = AddressRange::parse(typed).range) {
                Starting_IP->setText(range->firstText());
                Ending_IP->setText(range->lastText());
            }
        }
    }
    m_engine->Scan_Button_Click();
}

namespace {

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == TableView->viewport() && event->type() == QEvent::Resize)
        fitLastColumn();
    // A push button that is not a dialog's default ignores Enter; this one starts and
    // stops the scan with it, as the scan start's focus move promises.
    if (watched == Scan_Button && event->type() == QEvent::KeyPress &&
        isEnter(static_cast<QKeyEvent *>(event)->key())) {
        // A held key would start and stop by turns.
        if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
            Scan_Button_Click();
        return true;
    }
    if (watched == FindBox && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            hideFindBox();
            return true;
        }
        // Enter and Down go on into the rows found.
        if (isEnter(key->key()) || key->key() == Qt::Key_Down) {
            m_findDelay.stop();
            TableView->setFindText(FindBox->text());
            TableView->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && (watched == Starting_IP || watched == Ending_IP)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        return watched == Starting_IP ? Starting_IP_KeyPress(key->key(), key->text())
                                      : Ending_IP_KeyPress(key->key(), key->text());
    }
    return QMainWindow::eventFilter(watched, event);
}

namespace {

// Letters never belong in an address; codes 65 to 122 also cover [ \ ] ^ _ and `.
bool isDiscardedCharacter(const QString &text)
{
    return text.size() == 1 && text.at(0).unicode() >= 65 && text.at(0).unicode() <= 122;
}

} // namespace

bool MainForm::Starting_IP_KeyPress(int key, const QString &text)
{
    if (isEnter(key)) {
        Ending_IP->setFocus();
        return true;
    }
    return isDiscardedCharacter(text);
}

bool MainForm::Ending_IP_KeyPress(int key, const QString &text)
{
    if (isEnter(key)) {
        Scan_Button_Click();
        return true;
    }
    return isDiscardedCharacter(text);
}

void MainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void MainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void MainForm::Form_Resize()
{
    // Geometry in pixels, so rounding never moves the button off the table's edge; the
    // column width is kept in twips like the others.
    const int W = m_client->width();
    const int H = m_client->height();
    const int L = TableView->x();
    const int T = TableView->y();
    const int statusHeight = twipsToPixels(StatusBarHeight);
    TableView->resize(std::max(0, W - 2 * L),
                      std::max(0, H - (T + Starting_IP->y() + statusHeight)));
    StatusBar->setGeometry(0, H - statusHeight, W, statusHeight);
    if (!FindBox->isHidden())
        FindBox->resize(TableView->width(), FindBox->height());
    fitLastColumn();
    Scan_Button->move(std::max(0, W - (2 * L + Scan_Button->width())), Scan_Button->y());

    if (isMinimized() && m_engine->isRunning())
        setWindowTitle(QStringLiteral("Vantrel : ") + QString::number(m_grid->Rows() - 1));
    else
        setWindowTitle(QStringLiteral("Vantrel"));
}

void MainForm::fitLastColumn()
{
    // The rest of what the table shows, so a vertical scroll bar never brings a horizontal
    // one with it.
    ResultGrid &table = *m_grid;
    const int last = table.Cols() - 1;
    int used = 0;
    for (int col = 0; col < last; ++col)
        used += table.ColWidth(col);
    const int rest = pixelsToTwips(TableView->viewport()->width()) - used;
    // Never narrower than its design width: a narrow window scrolls instead.
    if (last >= 0 && rest > textWidthTwips(QStringLiteral("XXXXXXXXXXXXXXXXXX")))
        table.setColWidth(last, rest);
}

void MainForm::ExportSelection_Click()
{
    // The order is read when the file is written: rows that come in while the dialog is open
    // take their place in it.
    ExportAction::run(this, Table(), Starting_IP->text(), Ending_IP->text(),
                      [this] { return TableView->tableOrder(); });
}

void MainForm::CompareSelection_Click()
{
    if (!m_history || !m_history->previousScan())
        return;
    if (!m_compareForm)
        m_compareForm = new CompareForm(this);
    refreshComparison();
    m_compareForm->show();
    m_compareForm->raise();
    m_compareForm->activateWindow();
}

void MainForm::refreshComparison()
{
    if (!m_compareForm || !m_history)
        return;
    Hourglass wait(m_compareForm);
    // While the scan runs, only the addresses that have their outcome: the others would
    // all look gone.
    const std::optional<ScanComparison::Report> report = m_history->compare(
        {m_engine->settledCount(), m_engine->state().Address_Span + 1, m_engine->lastSettled()},
        m_engine->isRunning());
    if (report)
        m_compareForm->showReport(*report);
    else
        m_compareForm->showNothing(m_history->noComparison());
}

void MainForm::PrintSelection_Click()
{
    Hourglass wait(this);
    PrintPreviewForm::PrintNow(this, Starting_IP->text(), Ending_IP->text(), *m_grid,
                               TableView->tableOrder());
}

void MainForm::PrintPreviewSelection_Click()
{
    Hourglass wait(this);
    PrintPreviewForm::Preview(this, Starting_IP->text(), Ending_IP->text(), *m_grid,
                              TableView->tableOrder());
}

void MainForm::ScanOptionsSelection_Click()
{
    OptionsForm::showFor(this, settings(), [this](const ScanSettings &edited) {
        applySettings(edited);
        return settings();
    });
}

void MainForm::ExitSelection_Click()
{
    close();
}

namespace {

const QString GrownHeightKey = QStringLiteral("Main Grown Height");

} // namespace

void MainForm::restorePlacement()
{
    m_grownHeight =
        std::max(0, SettingsStore::toInt32(SettingsStore::GetSetting(
                                               Version::fileDescription(), QStringLiteral("Window"),
                                               GrownHeightKey, QStringLiteral("0")))
                        .value_or(0));
    const int compact = height();
    if (!WindowPlacement::restore(this, QStringLiteral("Main")))
        return;
    // Place and width as they were; the window opens compact, and the first scan grows it to
    // the height it had.
    if (!isMaximized() && !isFullScreen())
        resize(std::max(width(), minimumSizeHint().width()), compact);
}

void MainForm::rememberPlacement()
{
    WindowPlacement::remember(this, QStringLiteral("Main"));
    if (Window_Grown && !isMaximized() && !isMinimized() && !isFullScreen()) {
        SettingsStore::SaveSetting(Version::fileDescription(), QStringLiteral("Window"),
                                   GrownHeightKey,
                                   QString::number(pixelsToTwips(m_client->height())));
    }
}

void MainForm::closeEvent(QCloseEvent *event)
{
    rememberPlacement();
    if (Form_QueryUnload()) {
        event->accept();
        hide();
    } else {
        event->ignore();
    }
}

bool MainForm::Form_QueryUnload()
{
    m_engine->PING_Timer().stop();
    m_echo->CancelEchoes();
    m_lookup->CancelLookups();
    if (m_neighbours)
        m_neighbours->cancelAll();
    if (m_echo->EchoesPending() > 0 || m_lookup->LookupsPending() > 0) {
        hide();
        m_exitTicks = 0;
        m_exitTimer.start();
        return false;
    }
    return true;
}

void MainForm::Exit_Timer_Timer()
{
    ++m_exitTicks;
    if (m_exitTicks > 10 || (m_lookup->LookupsPending() == 0 && m_echo->EchoesPending() == 0)) {
        m_exitTimer.stop();
        m_endProgram();
    }
}

// ScanView

QString MainForm::startingText() const
{
    return Starting_IP->text();
}

QString MainForm::endingText() const
{
    return Ending_IP->text();
}

void MainForm::refuseStart(const QString &message, Box focus)
{
    MessageBox::exclamation(this, message);
    (focus == Box::Starting ? Starting_IP : Ending_IP)->setFocus();
}

void MainForm::showScanLayout()
{
    setCursor(Qt::WaitCursor);
    StatusBar->show();
    ExportSelection->setEnabled(true);
    ClearSelection->setEnabled(true);
    if (!Window_Grown) {
        const int outer = frameGeometry().height();
        const int frame = outer - height();
        // Three times as tall, or as tall as the user left it last time; never taller than
        // the screen has room for.
        int grown = 3 * outer - frame;
        if (m_grownHeight > 0)
            grown = twipsToPixels(m_grownHeight) + (height() - m_client->height());
        resize(width(), std::min(grown, WindowPlacement::largestInnerSize(this).height()));
        if (isVisible())
            WindowPlacement::keepOnScreen(this);
        Window_Grown = true;
        // From now on the status bar needs its room below the top rows.
        m_client->setMinimumHeight(twipsToPixels(TableTop + Starting_IP_Top + StatusBarHeight));
    }
    PrintPreviewSelection->setEnabled(true);
    PrintSelection->setEnabled(true);
}

void MainForm::showRunning(bool running)
{
    Starting_IP->setEnabled(!running);
    Ending_IP->setEnabled(!running);
    Scan_Button->setText(running ? QStringLiteral("STOP") : QStringLiteral("Scan"));
    QFont font = Scan_Button->font();
    font.setBold(running);
    Scan_Button->setFont(font);
    if (running) {
        Scan_Button->setFocus();
        return;
    }
    unsetCursor();
    Starting_IP->selectAll();
    Ending_IP->selectAll();
    Starting_IP->setFocus();
}

void MainForm::setIcmpPercent(int percent)
{
    ICMP_Percent->setPercent(percent);
}

void MainForm::setDnsPercent(int percent)
{
    DNS_Percent->setPercent(percent);
}

void MainForm::setIpStatus(const QString &text)
{
    IP_Status->setText(text);
}

void MainForm::setNodeCount(std::int64_t count)
{
    NodeCount->setText(QString::number(count));
}

bool MainForm::isMinimized() const
{
    return QMainWindow::isMinimized();
}

void MainForm::setWindowCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void MainForm::beep()
{
    QApplication::beep();
}
