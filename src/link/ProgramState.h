#pragma once

#include "Frames.h"
#include "LinkHooks.h"
#include "MainThreadHandoff.h"
#include "cards/CardRecords.h"
#include "store/AppPath.h"
#include "store/SaveLoad.h"

#include <cstdint>

// Everything the program keeps for the whole run, in one list: who sets each item, who reads it,
// and on which thread. Nothing here is locked: all of it is touched on the main (user-interface)
// thread only, except CommandEvent, the one object the command worker waits on. The worker and the
// HID read threads hand their work to the main thread and wait for it (MainThreadHandoff.h).
//
// Four items belong to the data store and are declared there, because the store itself uses
// them; they are listed here all the same and ResetProgramState covers them:
//   SystemInfo (store/SaveLoad.h)  the settings record. Loaded by the main window's start-up,
//                                  saved when it closes; the device card window changes Sector and
//                                  RegionID; read by every card window and by the frame builder.
//   AppPath (store/AppPath.h)      the program folder. Set once by main() (tests: their fixture);
//                                  read by every file lookup.
//   dm (store/DM.h)                the data module. Created by main() after the start-up, deleted
//                                  at exit (tests: their fixture); used by windows and lookups.
//   DatabaseOverride               the database named by --database (store/Database.h). Set by
//                                  both entry points before the data module is made; read by
//                                  ConfiguredDatabase. Cleared by ResetProgramState.
// Three more are kept by units this layer cannot call, and put back through AddStateReset:
//   ActThread's worker (CommandWorker.h)  stopped; StartCommandWorker registers it.
//   SearchCondition() (ui/SearchCondition.h), InputDongHao() (ui/InputDongHao.h)  the two dialogs
//                                  kept hidden for the run, so their choices and texts stay;
//                                  freed (the next use makes them anew); each registers itself
//                                  when it is first made.
// Two seams are installed rather than kept: dialogs() (store/Dialogs.h) and currentClock()
// (store/Clock.h). Their installers own them; ResetProgramState leaves them alone.

class TActThread;
class TJvHidDevice;

// -- Commands (set by the windows, read by the frame builder) ------------------------------------

// PendingCommand when no card operation is outstanding (command 9, stop).
constexpr uint8_t IdleCommand = 9;
// The command to send next, or whose answer is awaited. Set by the windows (IssueCommand, or 9 on
// closing), by HandleResponse (9 after most answers) and by the main window at login (9); read by
// the build-and-send step and by HandleResponse. Main thread.
extern uint8_t PendingCommand;
// Wakes the command worker (manual reset). Signalled on the main thread by IssueCommand and by
// HandleResponse during card runs; waited on and reset by the worker thread. Any thread.
extern ManualResetEvent CommandEvent;
// The one command worker of the run, or null. StartCommandWorker / StopCommandWorker. Main thread.
extern TActThread* ActThread;

// -- Card records (filled by the windows before a command, by HandleResponse after an answer) ----

// Owner card: filled by the owner card windows before command 3; serial and, for command 4, the
// card's content stored by HandleResponse; read by the frame builder and the polling windows.
extern TUserCardRec UserCardRec;
// Device card: filled by the device card window before command 1; by HandleResponse after a
// successful command 2.
extern TTerminalParamRec TerminalParamRec;
// Blacklist card: filled by the blacklist window or the owner list before command 6; by
// HandleResponse after a successful command 7; listed by the blacklist card listing.
extern TBlackListRec BlackListRec;
// The owners behind the entries of a blacklist card being written (the first
// BlackListTargetCount of them): filled with BlackListRec before command 6, applied by
// HandleResponse when the card was written.
extern BlackListTarget BlackListTargets[BlackListMaxEntries];
extern int BlackListTargetCount;
// Who reloads after a blacklist card was written: 1 the blacklist window, 0 the owner list. Set
// by those windows when shown; read by HandleResponse.
extern uint8_t BlackListSource;

// -- Answers (set by HandleResponse, polled and cleared by the windows) --------------------------
// Results are the low seven bits of the result byte: bit 7, which the card issuer may set, is
// dropped before anything looks at them.

// An answer to 2 with result 0, or any answer to 3 or 4, was stored. Cleared by the polling window.
extern uint8_t CardDataReady;
// The result of the last answer to 3 or 4.
extern int32_t CardResult;
// A blacklist card was read into BlackListRec. Cleared by the blacklist card listing.
extern uint8_t BlackListReady;

// The answer being reassembled from input reports (piece k at 25*(k-1); never cleared between
// answers), and the last answer that passed the checks. Written by ReceiveReport on the main
// thread, in the input report handler.
extern uint8_t ReportBuffer[MaxPackets * PacketDataSize];
extern ReceivedFrame ResponseFrame;

// -- The card issuer -------------------------------------------------------------------------------

// The claimed card issuer, or null. Set and cleared by the main window's CardIssuerLink (and by
// the HID controller when the device goes); tested by every window before a card command, written
// to by the build-and-send step. Main thread.
extern TJvHidDevice* CardIssuerDevice;

// -- Windows the answer handler reaches (each set by its window while the window is open) --------

// The main window's debug memo.
extern ResponseLog* CurrentResponseLog;
// The card initialisation window, during format and blank runs.
extern InitRunCounters* CurrentInitRunCounters;
// The blacklist window, reloaded after a blacklist card was written.
extern BlackListWindowHook* CurrentBlackListWindow;
// The owner list, reloaded after a single-owner blacklist card was written.
extern OwnerListHook* CurrentOwnerList;
// The owner updates after a blacklist card was written; set by main() once the data module exists.
extern BlackListOwnerMarks* CurrentOwnerMarks;

// -- The operator --------------------------------------------------------------------------------

// Level of the logged-in operator: 0 property steward, 1 administrator, 2 maintainer. Set by the
// main window after a login; read by the windows that offer more to higher levels. Main thread.
extern uint8_t OperatorLevel;

// -- Reset and thread checks -----------------------------------------------------------------------

// Registers how a part of the run's state kept outside this list is put back (see the top).
// ResetProgramState runs the registered functions, the latest first, before it resets anything
// else; they stay registered. A function registered again is kept once. Main thread.
void AddStateReset(void (*reset)());

// Puts every item above back as it is when the program starts: idle command, the event clear, no
// flags, zeroed records and buffers, empty settings, no program folder, level 0, no window
// pointers, no card issuer, no --database override. The parts registered with AddStateReset are
// put back first (the command worker stopped, the dialogs kept for the run freed); then the data
// module is deleted. Objects
// that own a part of this state (a CardIssuerLink, a window) must be gone by then. Main thread;
// called by main() at start-up and by every test fixture.
void ResetProgramState();

// Whether the caller runs on the main thread (the thread that started the program).
bool OnMainThread();
// Ends the program with a message naming function when the caller is not on the main thread. For
// the functions that touch program state without a lock; the check is made in every build.
void RequireMainThread(const char* function);
