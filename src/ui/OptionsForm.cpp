#include "ui/OptionsForm.h"

#include "app/ScanSettings.h"
#include "app/SettingsStore.h"
#include "app/Version.h"
#include "widgets/MessageBox.h"
#include "widgets/Twips.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Design lengths, in twips.
constexpr int ClientWidth = 5685;
// The check box for hosts that answer only ARP sits below the option buttons; everything
// under it moves down by its line.
constexpr int ArpLine = 285;
constexpr int ClientHeight = 3405 + ArpLine;
constexpr int ScreenLeft = 1770;
constexpr int ScreenTop = 2400;
constexpr int ControlLeft = 240;
constexpr int SliderWidth = 3852;
constexpr int SliderHeight = 228;
constexpr int LabelHeight = 195;
constexpr int ValueGap = 60;

} // namespace

OptionsForm::OptionsForm(const ScanSettings &current, Apply apply, QWidget *parent)
    : QDialog(parent)
    , m_current(current)
    , m_apply(std::move(apply))
{
    setWindowTitle(u"Scan Options"_s);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    createControls();
    nameControls();
    // A fixed place on the screen, not centred on the main window.
    const QScreen *screen = parent ? parent->screen() : QDialog::screen();
    const QPoint screenOrigin = screen ? screen->geometry().topLeft() : QPoint();
    setGeometry(QRect(screenOrigin + QPoint(pixels(ScreenLeft), pixels(ScreenTop)),
                      QSize(pixels(ClientWidth), pixels(ClientHeight))));
    setFixedSize(size());
    Form_Load();
}

int OptionsForm::showFor(QWidget *owner, const ScanSettings &current, Apply apply)
{
    // Parented to the main window only to keep it out of the task bar; the guard covers a
    // main window that goes away while the nested loop runs.
    QPointer<OptionsForm> dialog = new OptionsForm(current, std::move(apply), owner);
    const int result = dialog->exec();
    delete dialog.data();
    return result;
}

int OptionsForm::pixels(int twips) const
{
    return Twips::toPixels(*this, twips);
}

void OptionsForm::createControls()
{
    Forward_Scan = new QRadioButton(u"Scan for responding IP addresses"_s, this);
    // 240 high, not 255: the two option buttons then no longer overlap.
    Twips::place(*this, Forward_Scan, ControlLeft, 60, 3855, 240);
    Reverse_Scan = new QRadioButton(u"Scan for non-responding IP addresses"_s, this);
    Twips::place(*this, Reverse_Scan, ControlLeft, 300, 3855, 240);
    ARP_Check = new QCheckBox(u"Also list hosts that answer only ARP"_s, this);
    Twips::place(*this, ARP_Check, ControlLeft, 780, 3855, 255);
    ARP_Check->setToolTip(u"Hosts on the local network that drop echo requests but answer "
                          "ARP are listed with \"No echo reply\"."_s);
    DNS_Check = new QCheckBox(u"Reverse lookup addresses via DNS"_s, this);
    Twips::place(*this, DNS_Check, ControlLeft, 780 + ArpLine, 3735, 255);

    Label4 = addCaption(u"Delay between PINGs"_s, ControlLeft, 1245 + ArpLine, 1590);
    // The delay slider reads one less than the delay it stands for.
    constexpr ScanSettings::Range Delay = ScanSettings::Delay_Range;
    InterPING_Delay_Slider = addSlider(1470 + ArpLine, {Delay.minimum - 1, Delay.maximum - 1}, 50);
    InterPING_Delay = addValueLabel(InterPING_Delay_Slider, u" milliseconds"_s, Label4, 4080);
    Label2 = addCaption(u"PING Timeout"_s, ControlLeft, 1785 + ArpLine, 1005);
    Timeout_Slider = addSlider(2010 + ArpLine, ScanSettings::Timeout_Range, 50);
    Timeout = addValueLabel(Timeout_Slider, u" milliseconds"_s, Label2, 4065);
    Label1 = addCaption(u"PINGs transmitted per node"_s, ControlLeft, 2325 + ArpLine, 2205);
    PINGs_Slider = addSlider(2550 + ArpLine, ScanSettings::Pings_Range, 2);
    Pings = addValueLabel(PINGs_Slider, u" PINGs"_s, Label1, 4065);
    Label5 = addCaption(u"Packet Time-To-Live"_s, ControlLeft, 2865 + ArpLine, 1515);
    TTL_Slider = addSlider(3090 + ArpLine, ScanSettings::TTL_Range, 10);
    TTL = addValueLabel(TTL_Slider, QString(), Label5, 4065);

    OK_Button = new QPushButton(u"OK"_s, this);
    Twips::place(*this, OK_Button, 4440, 180, 972, 408);
    OK_Button->setDefault(true);
    Cancel_Button = new QPushButton(u"Cancel"_s, this);
    Twips::place(*this, Cancel_Button, 4440, 684, 972, 408);
    connect(OK_Button, &QPushButton::clicked, this, &OptionsForm::OK_Button_Click);
    connect(Cancel_Button, &QPushButton::clicked, this, &QDialog::reject);
}

QLabel *OptionsForm::addCaption(const QString &text, int left, int top, int width)
{
    auto *label = new QLabel(text, this);
    Twips::place(*this, label, left, top, width, LabelHeight);
    return label;
}

QSlider *OptionsForm::addSlider(int top, ScanSettings::Range range, int largeStep)
{
    auto *slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(range.minimum, range.maximum);
    slider->setSingleStep(1);
    slider->setPageStep(largeStep);
    Twips::place(*this, slider, ControlLeft, top, SliderWidth, SliderHeight);
    return slider;
}

QLabel *OptionsForm::addValueLabel(QSlider *slider, const QString &suffix, QLabel *caption,
                                   int right)
{
    // Right-aligned on its caption's line, from just after the caption to the design's right
    // edge: room for the longest value text without ever reaching over the caption.
    auto *label = new QLabel(this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int left = caption->geometry().right() + 1 + pixels(ValueGap);
    label->setGeometry(left, caption->y(), pixels(right) - left, caption->height());

    // Change and Scroll alike: the label follows the thumb while it is dragged.
    auto show = [label, suffix](int value) {
        label->setText(QString::number(value) + suffix);
    };
    connect(slider, &QSlider::valueChanged, label, show);
    connect(slider, &QSlider::sliderMoved, label, show);
    m_showValues.push_back([slider, show] { show(slider->value()); });
    return label;
}

void OptionsForm::Form_Load()
{
    const ScanSettings &current = m_current;
    // The sliders clamp values outside their ranges.
    Timeout_Slider->setValue(current.Ping_Timeout);
    InterPING_Delay_Slider->setValue(current.Inter_Ping_Delay - 1);
    PINGs_Slider->setValue(current.Pings_per_Node);
    TTL_Slider->setValue(current.Ping_TTL);
    Reverse_Scan->setChecked(current.Reverse_Scan);
    Forward_Scan->setChecked(!current.Reverse_Scan);
    DNS_Check->setChecked(current.Resolve_DNS);
    ARP_Check->setChecked(current.listArpOnly);
    for (const auto &showValue : m_showValues)
        showValue();
}

void OptionsForm::OK_Button_Click()
{
    ScanSettings edited = m_current;
    edited.Inter_Ping_Delay = InterPING_Delay_Slider->value() + 1;
    edited.Ping_Timeout = Timeout_Slider->value();
    edited.Pings_per_Node = static_cast<std::int16_t>(PINGs_Slider->value());
    edited.Ping_TTL = TTL_Slider->value();
    edited.Reverse_Scan = Reverse_Scan->isChecked();
    edited.Resolve_DNS = DNS_Check->isChecked();
    edited.listArpOnly = ARP_Check->isChecked();
    const ScanSettings inForce = m_apply(edited);
    // Read back from the homes, so the store holds what the scan really uses. A store that
    // cannot be written leaves the applied settings in force for this run, and says so.
    QString reason;
    if (!SettingsStore::saveScanSettings(inForce, &reason)) {
        MessageBox::exclamation(
            this, u"The scan options apply now, but could not be saved to \"%1\" for the next "
                  u"start.\n%2"_s.arg(
                      QDir::toNativeSeparators(SettingsStore::fileName(Version::fileDescription())),
                      reason));
    }
    accept();
}

void OptionsForm::nameControls()
{
    const std::pair<QObject *, const char *> controls[] = {
        {Forward_Scan, "Forward_Scan"},
        {Reverse_Scan, "Reverse_Scan"},
        {DNS_Check, "DNS_Check"},
        {ARP_Check, "ARP_Check"},
        {Label4, "Label4"},
        {InterPING_Delay, "InterPING_Delay"},
        {InterPING_Delay_Slider, "InterPING_Delay_Slider"},
        {Label2, "Label2"},
        {Timeout, "Timeout"},
        {Timeout_Slider, "Timeout_Slider"},
        {Label1, "Label1"},
        {Pings, "Pings"},
        {PINGs_Slider, "PINGs_Slider"},
        {Label5, "Label5"},
        {TTL, "TTL"},
        {TTL_Slider, "TTL_Slider"},
        {OK_Button, "OK_Button"},
        {Cancel_Button, "Cancel_Button"},
    };
    for (const auto &[control, name] : controls)
        control->setObjectName(QLatin1StringView(name));
}
