// Starting jobs, and the one queue of work that waits for the window to be
// idle. Why a piece of work waits, runs or is dropped is decided here only:
// - at most one job runs; work asked for meanwhile waits in the order given;
// - a refresh asked for meanwhile waits once (asking again merges), and a
//   refresh that starts takes its place; a failed result leaves it for the
//   result after;
// - a job waits as it was built when given: the ids, version, text and
//   staff member shown then;
// - a command that opens a dialog first waits as a command, and is given
//   again when its turn comes if what it acts on is still there;
// - a command given again with the same job (kind, target, version, texts,
//   staff member, password), while it waits or its job runs, runs once;
//   given again with other content it replaces the waiting one in its place
//   (the operator corrected it), or, while its first job runs, waits behind
//   it as a new command. So at most one entry per command and view waits,
//   besides the refresh, and entries of a view left go at their turn: the
//   queue needs no limit of its own;
// - when a job the operator gave fails, what waited behind it is dropped
//   with a word (it may rest on what failed); a refresh that fails in the
//   transport or meets a busy server (5xx, 408, 429) stops nothing, one the
//   server refuses empties the view and drops what waited, with its reason;
// - work given in one view is dropped with a word when another view is
//   shown by its turn (a sign-in belongs to no view);
// - while a dialog opened by waiting work is open, the work behind it waits
//   (its nested loop goes on handling results), and the job the dialog gives
//   takes the dialog's place at the head of the queue;
// - nothing typed goes with what is dropped: a message's text goes back to
//   its composer or draft (returnUnsentText).
#pragma once
#include "net/jobs.h"
#include "ui/main/state.h"

// How a started job reaches a worker; tests replace it to capture jobs.
extern bool (*netJobLauncher)(NetJob* job);

// Starts the job with the window's connection fields or, while one runs,
// drops it and lets a refresh wait instead. True when a worker was started.
bool startNetJob(MainWindowState& state, NetJob job);

// A job the operator asked for with `command`, in the view of generation
// `given` (noted before any dialog it needed): started when idle, waiting
// while a job runs, dropped with a word when the view changed meanwhile.
// True when a worker was started.
bool startUserJob(MainWindowState& state, int command, NetJob job, int32_t given);

// A Refresh job for the current view, when an organisation is chosen.
void refreshNow(MainWindowState& state);

// Timer 1.
void onRefreshTimer(MainWindowState& state);

// A refresh waits for the running job.
bool refreshPending(const MainWindowState& state);

// The edit in progress is being saved, or its save waits: the composer is
// locked, and leaving the edit waits behind the save.
bool editSaveInFlight(const MainWindowState& state);

// Lets a command wait (a dialog command, or leaving an edit whose save is in
// flight) for its turn; `target` is what it acts on.
void queueCommand(MainWindowState& state, int command, std::wstring target);

// Drops whatever waits but the refresh and a sign-in (which rests on no
// view). When something was dropped, the status line says `lead` followed
// by what, named for the operator ("отправка сообщения, назначение"), and
// true is returned. Typed text is not lost (returnUnsentText).
bool dropWaitingWork(MainWindowState& state, const std::wstring& lead);

// Forgets everything that waits, silently (sign-out).
void forgetWaitingWork(MainWindowState& state);

// Runs what waits, in order, while the window is idle. After a failed
// result the waiting refresh stays for the result after.
void runWaitingWork(MainWindowState& state, bool afterFailure);

// Writes the status line.
void setStatusLine(MainWindowState& state, const std::wstring& text);

// What a job does, named for the operator: "отправка сообщения", "назначение".
std::wstring workName(const NetJob& job);

// The title of the conversation shown (its list row), for saying where
// work was given.
std::wstring shownTitle(const MainWindowState& state);

// The status texts of work that could not run.
extern const wchar_t notDoneOtherView[];
extern const wchar_t notDoneUnavailable[];
