#pragma once

#include "CardIssuerIds.h"
#include "HidDevice.h"

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

// The main window's side of the card issuer: owns the HID controller (real devices, plus the
// simulated card issuer while ICCARD_SIMULATOR names its socket), keeps CardIssuerDevice, hands
// every input report to the frame assembly and every complete answer to LogResponse and
// HandleResponse, and tells the status strip whether a card issuer is attached.

// Captions of the two status buttons.
inline constexpr const char* BtnInCaption = "  插 入";
inline constexpr const char* BtnOutCaption = "  拔 出";

class CardIssuerLink final : public QObject {
    Q_OBJECT
public:
    // The program's backends: hidapi, and the simulated card issuer when ICCARD_SIMULATOR is set.
    explicit CardIssuerLink(QObject* parent = nullptr);
    // Given backends only (tests).
    CardIssuerLink(std::vector<std::unique_ptr<HidBackend>> backends, QObject* parent = nullptr);
    // Releases the card issuer.
    ~CardIssuerLink() override;

    // A card issuer is attached exactly when CardIssuerDevice is set.
    bool attached() const;
    TJvHidDeviceController* controller() const { return m_controller; }

    // What pressing the status buttons shows (three lines: 插入设备 / 未找到设备, VID:1A86, PID:E010).
    static QString btnInMessage();
    static QString btnOutMessage();

    // The three handlers, connected to the controller (public so that a window or a test can
    // drive them).
    void HidCtlDeviceChange();
    void HidCtlRemoval(TJvHidDevice* device);
    void HidCtlDeviceData(TJvHidDevice* device, uint8_t reportId, const QByteArray& data);

Q_SIGNALS:
    // The status changed: show btnIn (attached) or btnOut.
    void attachedChanged(bool attached);
    // A complete answer has been logged and handled (after HandleResponse returned).
    void answerHandled(uint8_t command, uint8_t result);

private:
    void setAttached(bool attached);

    TJvHidDeviceController* m_controller;
    bool m_attached = false;
};

// The backends the program uses by default.
std::vector<std::unique_ptr<HidBackend>> DefaultHidBackends();
