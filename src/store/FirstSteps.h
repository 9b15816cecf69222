#pragma once

// How far a new office has come with the first steps before owner cards are written: the
// community identifier set, buildings and units, door terminals and owners entered, an owner card
// written. Read from the settings and with one cheap statement (existence only, never a count
// or a whole table). User-interface thread, like the data module.

class Tdm;

struct FirstStepsProgress {
    bool regionSet = false;   // SystemInfo holds a community identifier that is not blank
    bool buildings = false;   // BuildInfo has a row
    bool terminals = false;   // TerminalInfo has a row
    bool owners = false;      // UserInfo has a row
    bool cardWritten = false; // an owner holds a card (CardID not empty)
};

// Throws OperationError when the database cannot be used.
FirstStepsProgress ReadFirstSteps(Tdm& module);
