#pragma once

#include <QString>
#include <cstdint>

// Level of the logged-in operator: 0 property steward, 1 administrator, 2 maintainer.
extern uint8_t OperatorLevel;

// The level's name as the status strip and the login list show it; empty for unknown levels.
QString LevelName(int level);

// A card issuer counts as attached exactly while one is claimed.
bool CardIssuerAttached();
