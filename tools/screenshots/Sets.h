#pragma once

#include <QStringList>

class FixedClock;
class ShotDialogs;
class SimCardIssuer;
class TFormMain;

// The two sets of pictures: the README's and the operator's guide's. Each is made in one run of
// the program, from the main window on, after the login. User-interface thread only.

// What a set works with: the main window after the login (maintainer level), the simulated card
// issuer it is attached to, the message boxes' answers, the clock that stands still, and the
// address of a database server for the picture of the program on a server (empty: none).
struct ShotRun {
    TFormMain& main;
    SimCardIssuer& sim;
    ShotDialogs& dialogs;
    FixedClock& clock;
    QString server;
};

// The README's pictures (login.png is saved at the login). 0 when every one was saved.
int MakeReadmeSet(ShotRun& run);

// The guide's pictures, on the scripted community (login.png is saved at the login). 0 when every
// one was saved.
int MakeGuideSet(ShotRun& run);

// The file names of the guide's pictures, login.png included.
QStringList GuidePictures();
