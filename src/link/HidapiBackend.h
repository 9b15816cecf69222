#pragma once

#include "HidDevice.h"

#include <memory>

// Real HID devices through the system's HID driver (hidapi). On Linux (HidapiBackendLinux.cpp):
// the hidraw nodes, with a libudev monitor on the hidraw subsystem whose descriptor the event loop
// watches, so arrival and removal are noticed at once. On Windows (HidapiBackendWindows.cpp): the
// HID class driver, the list of interfaces looked at twice a second. What both share is in
// HidapiConnection.h.
std::unique_ptr<HidBackend> CreateHidapiBackend(QObject* parent = nullptr);
