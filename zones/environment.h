// The process environment list: built once at start from the inherited
// environment with names upper-cased, then changed only by envPut. Entries put
// later are references to the caller's text, which must outlive them.
#pragma once
#include <cstdint>

// Rebuilds the list from the inherited environment (GetEnvironmentStrings):
// each "name=value" copied with its name upper-cased (ASCII a-z only). A copy
// that cannot be allocated ends the list there.
void envInit();

// Rebuilds the list from an explicit array of entries, as envInit does.
void envInitFrom(const char* const* entries, int32_t count);

// Returns the value of the first entry starting with exactly name followed by
// "=" (a reference into the entry), or nullptr.
const char* envGet(const char* name);

// Replaces the entry named like entry ("NAME=value") by a reference to entry,
// removes it when the value is empty, or appends it; then sets the variable in
// the operating system's environment. Returns 0, or -1 for an entry without
// "=" or when the list cannot grow (nothing changes then).
int32_t envPut(const char* entry);

// Returns the number of entries in the list.
int32_t envCount();
