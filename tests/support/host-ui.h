// The engine's actions as the unit tests see them: the stand-ins of the engine, with the
// message boxes, the windows destroyed and the fonts removed recorded here and the answers set
// here. HostUi_Reset installs the record.
#pragma once

// Installs the recording actions, forgets every record and restores the default answers (Yes;
// font removal and the uninstall entry succeed).
void HostUi_Reset(void);
// The answer a question box gives: 1 Yes, 0 No.
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
// The result the uninstall entry gives (1 by default), and how often DONE wrote it.
void HostUi_SetUninstallResult(int result);
int HostUi_UninstallCount(void);
// The result a font removal gives, and the fonts it was asked to remove.
void HostUi_SetFontRemoveResult(int result);
int HostUi_FontRemoveCount(void);
const char *HostUi_LastFontRemoved(void);
