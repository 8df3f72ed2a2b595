#pragma once

#include "app/ScanSettings.h"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

// The "Scan Options" dialog: the scan settings on four sliders, two option buttons and two
// check boxes. It opens with the settings in force; OK applies them at once (a running scan
// picks them up on its next tick) and writes them all to the settings store; Cancel, Esc and
// the close box discard the edits.
class OptionsForm : public QDialog
{
    Q_OBJECT
public:
    // Puts the edited settings into their homes and gives back those now in force.
    using Apply = std::function<ScanSettings(const ScanSettings &)>;

    OptionsForm(const ScanSettings &current, Apply apply, QWidget *parent = nullptr);

    // Opens the dialog modally over owner and returns its result once it has closed. Only
    // input is blocked: the nested event loop keeps the scan's timers and sockets going.
    static int showFor(QWidget *owner, const ScanSettings &current, Apply apply);

private:
    // Each control also carries its name as its object name, by which tests find it.
    QRadioButton *Forward_Scan = nullptr;
    QRadioButton *Reverse_Scan = nullptr;
    QCheckBox *DNS_Check = nullptr;
    QCheckBox *ARP_Check = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *InterPING_Delay = nullptr;
    QSlider *InterPING_Delay_Slider = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Timeout = nullptr;
    QSlider *Timeout_Slider = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Pings = nullptr;
    QSlider *PINGs_Slider = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *TTL = nullptr;
    QSlider *TTL_Slider = nullptr;
    QPushButton *OK_Button = nullptr;
    QPushButton *Cancel_Button = nullptr;

    void nameControls();
    void createControls();
    void Form_Load();
    void OK_Button_Click();
    QLabel *addCaption(const QString &text, int left, int top, int width);
    QSlider *addSlider(int top, ScanSettings::Range range, int largeStep);
    QLabel *addValueLabel(QSlider *slider, const QString &suffix, QLabel *caption, int right);
    int pixels(int twips) const;

    ScanSettings m_current;
    Apply m_apply;
    // Shows each slider's value in its label; run once more after loading, since setting a
    // slider to the value it already holds reports no change.
    std::vector<std::function<void()>> m_showValues;
};
