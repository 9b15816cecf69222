#pragma once

#include "Database.h"

// The start of a run of either program: the data module on the database of the run, after what a
// backup or restore cut short left beside that database has been cleared away.

class Tdm;

// A new data module (the caller owns it) on the database of this run (ConfiguredDatabase), or on
// the one given; first clears the leftovers of maintenance (RemoveMaintenanceLeftovers).
Tdm* StartDataModule();
Tdm* StartDataModule(const DatabaseTarget& target);
