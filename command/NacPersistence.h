#pragma once

// NAC entries that survive a restart: with PERSIST=enable in section NAC
// of Velnor.ini (read at every change, as REMOTE is at every connection), every nac add or
// nac del that changes the registry rewrites nac.csv at once, and the start loads it.
// AUTOSAVE=enable keeps nac.csv as well, with the other registries (see AutoSave.h).

// Saves the NAC registry to nac.csv when PERSIST is on and AUTOSAVE off; a failed save is
// reported.
void PersistNacEntries();
