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

    // Navigation, each opening its window modally.
    void OpenDeviceCardWindow();
    void OpenInitWindow(bool reset);
    void OpenMaintenance();
    void SwitchOperator();

    // The status strip follows the card issuer.
    void ShowDeviceAttached(bool attached);
    void RefreshSettingsPanels();
    void ApplyLevel();

    QTabWidget* tabs;
    QWidget* tabWelcome;
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
    NavigationBar* nav;
    CardIssuerLink* link = nullptr;

Q_SIGNALS:
    // The login at first show is over; loggedIn false means the program ends.
    void firstLoginDone(bool loggedIn);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    void btnInClick();
    void btnOutClick();
    void tickClock();
    void tickScroll();
    void buildMenus();
    QWidget* buildStatusStrip();

    class MemoLog;
    std::unique_ptr<MemoLog> m_log;
    bool m_shownOnce = false;
    QString m_scrollText;
    QTimer* m_clockTimer;
    QTimer* m_scrollTimer;
};
