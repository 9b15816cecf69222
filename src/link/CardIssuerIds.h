#pragma once

#include <cstdint>

// The card issuer's USB IDs.
constexpr uint16_t CardIssuerVendorId = 0x1A86;
constexpr uint16_t CardIssuerProductId = 0xE010;
