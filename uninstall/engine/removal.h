// The guard rails of removal, shared by the uninstaller and the setup that upgrades an earlier
// installation: the folders of the system that no installation folder may be nor hold, and the
// removal of a FILE LIST's files and of the folders they leave empty, inside their folders only,
// as the install record decides. Files in use are left for the next restart and listed
// (Removal_Pending). Portable: the machine is the record of removal-actions.h.
#pragma once
#include <stdint.h>

#include "installrecord.h"
#include "state.h"

enum {
    REMOVAL_PATH_SIZE = 320,
    REMOVAL_PENDING_SIZE = 4096, // the list of files left for the restart
};

// Asks the system (the record of actions in force) for the guarded folders, each in its own
// spelling and the disk's. Call it before Removal_CheckFolder and the removals.
void Removal_LookUpGuarded(void);
// The guard rails' verdict on an installation folder (pathguard.h), in its own spelling and in
// the disk's: GUARD_ACCEPTED, or a refusal whose text goes into reason (size bytes).
int Removal_CheckFolder(const char *folder, char *reason, int size);
// The name the disk gives an existing file or folder, through junctions, links and short names,
// into out (size bytes). Returns 1, or 0 when it cannot be opened or named.
int Removal_DiskName(const char *folder, char *out, int size);
// The installation folder of state's script into state->InstallPath: the "Install Path"
// remembered under RegistryPath; without one, the folder of the uninstaller at uninstallerPath
// when UNINSTALL NAME is relative to the installation folder. A remembered value that is empty
// or cannot be read counts as no folder. The folder must pass the guard rails, exist, and hold
// that uninstaller when UNINSTALL NAME is relative. Returns 1, or 0 with the text of the
// refusal in reason (size bytes) and InstallPath untouched.
int Removal_FindInstallPath(InstallState *state, const char *uninstallerPath, char *reason,
                            int size);
// 1 when path leads, on the disk, to base itself or below it; 0 when it leads elsewhere, or
// either does not exist.
int Removal_LeadsInside(const char *path, const char *base);
// 1 when folder is a macro's own folder, a drive's root or a guarded folder: never removed.
int Removal_IsProtected(const char *folder);
// Removes folder (with its trailing backslash) when it is empty and not protected, logged.
// Returns 1 when it was removed.
int Removal_EmptyFolder(const char *folder);

// Deletes a file, logged; one in use is left for the next restart and listed. A missing file
// is no failure.
void Removal_File(const char *path);
// Forgets the guarded folders and the files left for the restart, as at the program's start.
void Removal_Reset(void);
// Adds path to the list of files left for the restart.
void Removal_NotePending(const char *path);
// The files left for the restart, one a line; *count of them, *cut of them not in the text.
const char *Removal_Pending(int32_t *count, int32_t *cut);
// Removes the empty folders from path's folder upwards while they lie below base (with its
// trailing backslash), base itself when removeBase is set; a link out of base stops the walk.
void Removal_EmptyParents(const char *path, const char *base, int removeBase);
// Removes the empty folders above an installation folder that is gone, up to the Program Files
// folder.
void Removal_EmptyAbove(const char *installPath);
// The folder an item's path starts from into base (size bytes): its macro's folder, or the
// installation folder. 0 for "$3" and "$5", whose folders are not the setup's.
int Removal_ItemBase(const InstallState *state, const char *item, char *base, int size);
// Removes the file of a FILE LIST item at target below base as record (and the shared count)
// decides; flags are the item's path flags. Nothing that leads outside base is removed.
void Removal_ItemFile(const char *target, const char *base, uint32_t flags,
                      const InstallRecord *record);

// 1 when the item's target stays (the upgrade's filter).
typedef int (*RemovalKeep)(const char *target, void *context);
// Each item of a FILE LIST argument, expanded for state: its file removed (Removal_ItemFile),
// or with folders set the folders it leaves empty; an item outside its folder is left alone
// (logged), and so is one that keep (when not null) keeps. Returns 1.
int Removal_Items(const InstallState *state, const char *arguments, int folders,
                  const InstallRecord *record, RemovalKeep keep, void *context);
