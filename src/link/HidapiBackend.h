#pragma once

#include "HidDevice.h"

#include <memory>

// Real HID devices through the system's HID driver (hidapi). On Linux: the hidraw nodes, with a
// libudev monitor on the hidraw subsystem whose descriptor the event loop watches, so arrival
// and removal are noticed at once. A Windows build would put the same operations in a file of its
// own (hidapi works the same there) and take the notification from the device-change window
// message.
std::unique_ptr<HidBackend> CreateHidapiBackend(QObject* parent = nullptr);
