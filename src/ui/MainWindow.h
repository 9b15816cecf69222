#pragma once

#include <QMainWindow>
#include <memory>
#include <vector>

class HidBackend;

class CardIssuerLink;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class NavigationBar;
class FirstStepsPanel;
class WelcomePicture;

// The program's home: start-up, the card issuer's status, the debug log and the navigation to
// every other window.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // With the program's device backends (real card issuers, and the simulated one when named).
    explicit TFormMain(QWidget* parent = nullptr);
    // With the given backends only.
    explicit TFormMain(std::vector<std::unique_ptr<HidBackend>> backends, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The creation step: settings, program folder, worker, photo folder. False when the program
    // must end (the settings file is missing; the operator has been told).
    bool StartUp();

    // The openers of the navigation entries and menu items (NavItems), each opening its window
    // modally.
    void OpenDeviceCardWindow();
    void OpenRestoreBlankWindow();
    void OpenFormatWindow();
    void OpenInitWindow(bool reset);
    void OpenMaintenance();
    void OpenOperationLog();
    void OpenOwnerEditor();
    void OpenOwnerlessCard();
    void OpenOwnerCards();
    void OpenBlackList();
    void OpenBuildInfo();
    void OpenTerminalRegister();
    void OpenUserInfo();
    void SwitchOperator();
    void Quit();
    // The 帮助 menu: the guide at its table of contents, and the program's name and version.
    void OpenManual();
    void ShowAbout();

    // The status strip follows the card issuer.
    void ShowDeviceAttached(bool attached);
    void RefreshSettingsPanels();
    void ApplyLevel();
    // The list of first steps beside the welcome picture: shown, with each step's state, while no
    // owner holds a card; hidden once one does, and while the database cannot be used.
    void RefreshFirstSteps();
    // Opens the window of a step of that list, as its navigation entry or menu item does.
    void OpenFirstStep(int step);

    QTabWidget* tabs;
    QWidget* tabWelcome;
    WelcomePicture* welcome;
    FirstStepsPanel* firstSteps;
    QWidget* tabDebug;
    QPlainTextEdit* mmo1;
    QPushButton* btnIn;
    QPushButton* btnOut;
    QLabel* pnlSector;
    QLabel* pnlRegion;
    QLabel* lblLevel;
    QLabel* lblScroll;
    QLabel* lblClock;
    QLabel* lblLocks;
    QLabel* lblDatabase;
    NavigationBar* nav;
    CardIssuerLink* link = nullptr;

Q_SIGNALS:
    // The login at first show is over; loggedIn false means the program ends.
    void firstLoginDone(bool loggedIn);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum NavNeeds { Anything, CardIssuer, Supervisor };
    struct NavEntry {
        const char* group = nullptr;
        const char* caption = nullptr;
        bool separatorBefore = false;
    };
    struct MenuEntry {
        const char* menu = nullptr;
        const char* caption = nullptr;
        int position = 0;
        bool separatorBefore = false;
    };
    struct NavItem {
        NavEntry entry;
        MenuEntry menuItem;
        NavNeeds needs;
        void (TFormMain::*open)();
    };
    static const char* const MenuBar[];
    static const NavItem NavItems[];
    // The first steps of a new office in their order, each with the opener of its window.
    struct FirstStep {
        const char* caption;
        void (TFormMain::*open)();
    };
    static const FirstStep FirstSteps[];

    void FormShow();
    void btnInClick();
    void btnOutClick();
    void tickClock();
    void tickScroll();
    void buildNavigation();
    void buildMenus();
    // Opens the item's window once what it needs is there.
    void Open(const NavItem& item);
    QWidget* buildStatusStrip();

    class MemoLog;
    std::unique_ptr<MemoLog> m_log;
    bool m_shownOnce = false;
    // A format run of this run of the program has formatted a card. Nothing stored tells whether
    // cards were formatted before, so after a restart the first step shows as not done until one
    // is formatted again (or until an owner holds a card and the list goes).
    bool m_cardsFormatted = false;
    QString m_scrollText;
    QTimer* m_clockTimer;
    QTimer* m_scrollTimer;
};
