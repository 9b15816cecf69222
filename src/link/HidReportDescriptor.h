#pragma once

#include <QByteArray>

// Report lengths read from a HID report descriptor, the way the HID class driver states them:
// the longest input and output report of the device plus one byte for the report ID (which is
// there even when the device numbers no reports).
struct HidReportLengths {
    int input = 0;
    int output = 0;
    bool numbered = false; // the device uses report IDs
};

HidReportLengths ParseReportDescriptor(const QByteArray& descriptor);
