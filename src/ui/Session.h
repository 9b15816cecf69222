#pragma once

#include "link/ProgramState.h"

#include <QString>

// OperatorLevel: link/ProgramState.h.

// The level's name as the status strip and the login list show it; empty for unknown levels.
QString LevelName(int level);

// A card issuer counts as attached exactly while one is claimed.
bool CardIssuerAttached();
// Whether a card issuer is attached; while none is, the operator is told "请插入发卡器".
bool RequireCardIssuer();
