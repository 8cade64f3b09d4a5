// Test hooks of the host stand-ins for the message boxes, the window and the temporary fonts
// (host-ui.cpp): what would have been shown or done is recorded here, and the answers the
// stand-ins give are set here. Built where the real Win32 versions are absent.
#pragma once

// Forgets every record and restores the default answers (Yes; font removal succeeds).
void HostUi_Reset(void);
// The answer Ui_Confirm gives: 1 Yes, 0 No.
void HostUi_SetConfirmAnswer(int answer);
// 1 (the default) prints every box on stderr, 0 keeps them silent (fuzzing).
void HostUi_SetEcho(int echo);
// Boxes shown since the last reset, and the title and text of the latest one ("" if none).
int HostUi_BoxCount(void);
const char *HostUi_LastTitle(void);
const char *HostUi_LastText(void);
// Windows destroyed since the last reset, and the latest one.
int HostUi_DestroyCount(void);
void *HostUi_LastDestroyed(void);
// The result Font_RemoveTemporary gives, and the fonts it was asked to remove.
void HostUi_SetFontRemoveResult(int result);
int HostUi_FontRemoveCount(void);
const char *HostUi_LastFontRemoved(void);
