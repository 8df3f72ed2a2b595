#pragma once

#include <QDialog>

#include <functional>
#include <vector>

class MainForm;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

// The "Scan Options" dialog: the six scan settings on four sliders, two option buttons and
// a check box. It reads the settings from the main window every time it opens; OK applies
// them at once (a running scan picks them up on its next tick) and writes all six to the
// settings store; Cancel, Esc and the close box discard the edits.
class OptionsForm : public QDialog
{
    Q_OBJECT
public:
    explicit OptionsForm(MainForm &form, QWidget *parent = nullptr);

    // Opens the dialog modally and returns its result once it has closed. Only input is
    // blocked: the nested event loop keeps the scan's timers and sockets going.
    static int showFor(MainForm &form);

    QRadioButton *Forward_Scan = nullptr;
    QRadioButton *Reverse_Scan = nullptr;
    QCheckBox *DNS_Check = nullptr;
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

private:
    void createControls();
    void Form_Load();
    void OK_Button_Click();
    QLabel *addCaption(const QString &text, int left, int top, int width);
    QSlider *addSlider(int top, int minimum, int maximum, int largeStep);
    QLabel *addValueLabel(QSlider *slider, const QString &suffix, QLabel *caption, int right);
    void place(QWidget *widget, int left, int top, int width, int height);
    int pixels(int twips) const;

    MainForm &m_form;
    // Shows each slider's value in its label; run once more after loading, since setting a
    // slider to the value it already holds reports no change.
    std::vector<std::function<void()>> m_showValues;
};
