#pragma once

#include "scan/ScanView.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

class CompareForm;
class EchoControl;
class LookupControl;
class NeighbourControl;
class PercentPanel;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class ResultGrid;
class ResultTableView;
class ScanEngine;
class ScanRecorder;
class TableActions;
struct ScanSettings;

// The main window: the two range boxes and the Scan button on top, the result table below,
// a status bar of progress panels at the bottom. Geometry follows the window's design in
// twips (1/1440 inch).
class MainForm : public QMainWindow, public ScanView
{
    Q_OBJECT
public:
    MainForm(std::unique_ptr<EchoControl> echo, std::unique_ptr<LookupControl> lookup,
             QWidget *parent = nullptr);
    ~MainForm() override;

    // Puts the six scan settings into their homes.
    void applySettings(const ScanSettings &settings);
    ScanSettings settings() const;

    ScanEngine &engine() { return *m_engine; }
    // Hardware addresses and makers of listed hosts, from `neighbours`; none without it.
    void setNeighbours(std::unique_ptr<NeighbourControl> neighbours);
    // Keeps every scan in the history at `path` (by default the user's), marks addresses
    // the earlier scan of a range did not list, and offers the comparison in the File menu.
    // A history that cannot be used is reported once and the scans go on without it.
    bool openHistory(const QString &path = {});
    ScanRecorder *history() { return m_history.get(); }
    CompareForm *compareForm() { return m_compareForm; }
    TableActions &tableActions() { return *m_tableActions; }
    EchoControl &ICMP() { return *m_echo; }
    LookupControl &DNS() { return *m_lookup; }
    ResultGrid &Table() { return *m_grid; }
    QTimer &PING_Timer();
    QTimer &Exit_Timer() { return m_exitTimer; }

    // Ends the program; tests replace it to watch the delayed exit.
    void setProgramEnd(std::function<void()> end) { m_endProgram = std::move(end); }

    int twipsToPixels(int twips) const;
    int pixelsToTwips(int pixels) const;

    void Scan_Button_Click();
    void ExportSelection_Click();
    void CompareSelection_Click();
    void PrintSelection_Click();
    void PrintPreviewSelection_Click();
    void ScanOptionsSelection_Click();
    void ExitSelection_Click();
    // Ctrl+F: the find box above the table, its text selected for typing over.
    void FindAction_Triggered();

    // ScanView
    QString startingText() const override;
    QString endingText() const override;
    void refuseStart(const QString &message, Box focus) override;
    void showScanLayout() override;
    void showRunning(bool running) override;
    void setIcmpPercent(int percent) override;
    void setDnsPercent(int percent) override;
    void setIpStatus(const QString &text) override;
    void setNodeCount(std::int64_t count) override;
    bool isMinimized() const override;
    void setWindowCaption(const QString &caption) override;
    void beep() override;

    static QString echoBanner();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenus();
    void createFindBox();
    void hideFindBox();
    void placeTable();
    void restorePlacement();
    void rememberPlacement();
    void nameControls();
    void historyScanStarting();
    void refreshComparison();
    void Form_Load();
    void Form_Resize();
    void fitLastColumn();
    void fitColumns();
    bool Form_QueryUnload();
    void Exit_Timer_Timer();
    bool Starting_IP_KeyPress(int key, const QString &text);
    bool Ending_IP_KeyPress(int key, const QString &text);
    int textWidthTwips(const QString &text) const;

    // Controls; each also carries its name as its object name, by which tests find it.
    QLabel *Label1 = nullptr;
    QLineEdit *Starting_IP = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Ending_IP = nullptr;
    QPushButton *Scan_Button = nullptr;
    ResultTableView *TableView = nullptr;
    QLineEdit *FindBox = nullptr;
    QAction *FindAction = nullptr;
    QFrame *StatusBar = nullptr;
    QLabel *IP_Status = nullptr;
    QLabel *SSPanel2 = nullptr;
    PercentPanel *ICMP_Percent = nullptr;
    QLabel *SSPanel1 = nullptr;
    PercentPanel *DNS_Percent = nullptr;
    QLabel *NodeCount = nullptr;

    QMenu *FileMenu = nullptr;
    QAction *ExportSelection = nullptr;
    QAction *CompareSelection = nullptr;
    QAction *ClearSelection = nullptr;
    QAction *PrintSelection = nullptr;
    QAction *PrintPreviewSelection = nullptr;
    QAction *ExitSelection = nullptr;
    QMenu *OptionsMenu = nullptr;
    QAction *ScanOptionsSelection = nullptr;
    QMenu *HelpMenu = nullptr;
    QMenu *ZarnholtWebMenu = nullptr;
    QAction *UpdatesSelection = nullptr;
    QAction *FAQSelection = nullptr;
    QAction *FeedbackSelection = nullptr;
    QAction *BugListSelection = nullptr;
    QAction *BugReportSelection = nullptr;
    QAction *AboutSelection = nullptr;
    QMenu *TablePopup = nullptr;
    QAction *CopyPopup = nullptr;
    QAction *DeletePopup = nullptr;
    QAction *PingPopup = nullptr;
    QAction *TelnetPopup = nullptr;
    QAction *BrowsePopup = nullptr;

    std::unique_ptr<EchoControl> m_echo;
    std::unique_ptr<LookupControl> m_lookup;
    std::unique_ptr<NeighbourControl> m_neighbours;
    std::unique_ptr<ResultGrid> m_grid;
    std::unique_ptr<ScanEngine> m_engine;
    std::unique_ptr<ScanRecorder> m_history;
    CompareForm *m_compareForm = nullptr;
    TableActions *m_tableActions = nullptr;
    QWidget *m_client = nullptr;
    QTimer m_exitTimer;
    QTimer m_findDelay;
    std::int16_t m_exitTicks = 0;
    bool Window_Grown = false;
    // Inner height, in twips, the grown window had when the program last closed; 0: none.
    int m_grownHeight = 0;
    std::function<void()> m_endProgram;
};
