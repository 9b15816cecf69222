#pragma once

// The blacklist: lost owners ("挂失") prepared for the next blacklist or whitelist card, the
// count of those prepared, the release of the prepared losses after a whitelist card, and the
// owners a written blacklist card names marked blacklisted or released.

#include "store/ListModel.h"

// The lost owners, or only those prepared for the next card, in building, unit and room order.
ListQuery LostOwnerList(bool preparedOnly);

// Prepares (true) or withdraws (false) the lost owner idx for the next card, or every lost owner
// (idx 0). A failure is reported by the data module; the result says whether it ran.
bool SetPrepared(bool prepared, int idx = 0);

// How many lost owners are prepared for the next card.
int PreparedCount();

// After a whitelist card: the prepared owners' losses end and their preparation with them.
bool ReleasePrepared();

// The answer to a written blacklist card: the owner idx is blacklisted ("黑名单") or, for a
// whitelist entry, released. A failure is reported by the data module.
bool SetOwnerBlackListed(int idx, bool blacklisted);
