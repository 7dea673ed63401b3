// The day and month names of the date line and the log, read from orv.ini
// ("months", "days": names separated by ':') so a user can change language.
#pragma once

// Index 0 = January / Sunday. An entry is an owned heap text, or nullptr when
// its copy failed.
extern char* monthNames[12];
extern char* dayNames[7];

// Reads both keys (writing each back unchanged so the user sees what to
// edit), then splits them into the lists; a missing name becomes "error".
void loadNameLists();

// Frees every entry and sets it to nullptr.
void freeNameLists();
