// Temporary fonts: backdrop fonts taken from the archive are added to the system for the length
// of the run and removed (and their files deleted) at its end. A system that refuses fonts is
// told once per font, and from then on nothing is removed. Win32 tree only (fonts.cpp); the
// slots' removal at the end of the run is fontslots.h.
#pragma once

// The FONT command's work: writes the archive entry name into the temporary directory and adds
// it with Font_AddTemporary. Returns 1, or 0 with one log line when the entry has no size,
// cannot be loaded, or cannot be saved (nothing is added then).
int Font_Extract(const char *name);
// Adds the font file; a refusal shows the corrupt-font-folder box and is logged. Always 1.
int Font_AddTemporary(const char *path);
// Removes a font added before and deletes its file; 0 when the system refused the removal.
int Font_RemoveTemporary(const char *path);
// 1 once the system has refused a font during this run.
int Font_Unavailable(void);
