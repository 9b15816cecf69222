#pragma once

#include <QString>
#include <cstdint>
#include <vector>

class FixedClock;

// The community the guide's pictures show, as an office would have it after a few days: three
// buildings with their units, door terminals at the gate and the building entrances, a dozen
// owners, some holding written cards, two cards reported lost, and the community identifier set.
// Made through the program's own store functions on the data module dm, with the clock moved on
// from one day to the next as an office would work. User-interface thread only.

// One owner of the community.
struct CommunityOwner {
    const char* name;
    int building;
    int unit;
    const char* room;
    const char* phone;
    const char* sex;
    uint32_t card; // the serial of the card written for the owner; 0 for none yet
};

// The owners, in the order they were registered.
const std::vector<CommunityOwner>& CommunityOwners();

// The community identifier.
extern const char* const CommunityRegion;

// A small photo drawn for an owner, as JPEG bytes.
QByteArray OwnerPhoto(const QString& name);

// Registers everything above. False when a store function refused.
bool MakeCommunity(FixedClock& clock);
