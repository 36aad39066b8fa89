// The commands that start work, as one table: the guard each needs, the job
// it builds at once or the dialog it opens first, and what must still hold
// when a command that waited gets its turn (ui/main/work.h).
#pragma once
#include "ui/main/state.h"
#include <string>

// Whether the control id is one of the table's commands.
bool isWorkCommand(int id);

// What the command does, named for the operator ("отправка файла").
const wchar_t* commandName(int id);

// The command as the operator gives it: nothing when its guard does not
// hold; otherwise at once when the window is idle, or waiting its turn.
void giveWorkCommand(MainWindowState& state, int id);

// A waiting command's turn (the window is idle, the view the same): gives it
// again when its guard still holds and `target` is still there. Returns the
// status text saying why it did not run, or null.
const wchar_t* replayCommand(MainWindowState& state, int id, const std::wstring& target);
