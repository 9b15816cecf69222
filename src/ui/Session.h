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

// Whether the operator logged in as 管理员 or 维护员 (the levels that may read the operation log);
// otherwise the operator is told so (SupervisorOnlyText).
bool RequireSupervisor();
inline constexpr const char* SupervisorOnlyText = "只有管理员和维护员可以查看操作日志。";

// Door terminals open only for cards of their own community, and refuse a blacklist card of
// another one: owner, blacklist and whitelist cards carry SystemInfo.RegionID. While it is empty
// (or blank) such cards would be refused everywhere without a word.
// Whether the community identifier is set (RegionIdSet); while it is not, a refusal box tells the
// operator where to set it (NoRegionIDText).
bool RequireRegionID();
inline constexpr const char* NoRegionIDText = "小区标识号还没有设置，这样写出的卡门禁终端不会接受。\r请先在“"
                                              "发设备卡”中输入小区标识号，再按“保存数据”。";
