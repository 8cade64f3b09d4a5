// The builder's engine: turns named files into an FFS archive (sorted unique hashes, Type2 where
// it shrinks), appends it to a stub with its trailer and writes the integrity stamp last, each
// file read in pieces as it is stored, never held whole; and
// reads finished setups back through the program's own reader for listing, checking and
// extraction. Used by the ffspack command and by the tests that need real archives.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "check.h"

enum {
    PACK_DEFAULT_FLAGS = 6,
    PACK_MAX_NAME = 319,
    PACK_MAX_JOBS = 256,
    // The reader takes sizes, offsets and the file's length as signed 32-bit numbers: an
    // entry's bytes and a finished file's length are at most this.
    PACK_MAX_LENGTH = 0x7FFFFFFF,
};

typedef std::vector<uint8_t> PackBytes;

typedef struct PackInput {
    std::string name;      // as the script asks for it
    PackBytes data;        // its bytes, when path is empty
    std::string path = {}; // else the file that holds them, read in pieces where they are needed;
    uint64_t size = 0;     // its size when it was listed, which it must still have then
} PackInput;

typedef struct PackEntryInfo {
    uint32_t hash;
    uint32_t blockOffset;
    int32_t storedLength;
    int32_t size; // uncompressed
    bool compressed;
    std::string name; // when one of the candidate names hashes to it
} PackEntryInfo;

// What a build did beyond the plain case (one line each), for the user.
typedef std::vector<std::string> PackNotes;

// The format's bounds: true when a file of size bytes can be an entry, when a finished setup
// or archive of length bytes can be read.
bool Pack_EntryFits(uint64_t size);
bool Pack_FileFits(uint64_t length);
// The number of threads that encode entries at once (at most PACK_MAX_JOBS, the command's
// bound); 0 (the default) or less: one a core. The Windows build encodes on one thread: its
// codec state is a single global.
void Pack_SetJobs(int jobs);
// The archive for inputs, placed at archiveOffset of its file (absolute block offsets), with
// its trailer when withTrailer, in memory. Returns false with *error naming the problem: an
// empty or over-long name, an empty file, two names of one hash, a file or a finished file
// beyond the format's bounds (Pack_EntryFits, Pack_FileFits), an input file that cannot be read
// or that no longer has its size.
bool Pack_BuildArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                       bool withTrailer, PackBytes *archive, std::string *error, PackNotes *notes);
// Finds the unstamped record in file (exactly one) and writes the stamp for the whole file,
// named fileName. Returns false with *error when there is no record or more than one.
bool Pack_Stamp(PackBytes *file, const std::string &fileName, std::string *error);
// Stub, archive, trailer and stamp: the finished setup, written to outputPath through a
// temporary file that replaces it only when complete. The stamp's record is the stub's one
// unstamped record. The encoded blocks wait in files beside outputPath (".spool" and a number,
// removed at once where the system allows, else when the build ends), and the memory taken
// does not grow with the inputs' sizes. Returns false with *error otherwise (Pack_BuildArchive's
// refusals among them).
bool Pack_BuildSetup(const std::string &stubPath, const std::vector<PackInput> &inputs,
                     uint32_t flags, const std::string &outputPath, std::string *error,
                     PackNotes *notes);
// A stand-alone archive (offset 0, no trailer, no stamp) written the same way, its blocks waiting
// in files the same way.
bool Pack_BuildStandalone(const std::vector<PackInput> &inputs, uint32_t flags,
                          const std::string &outputPath, std::string *error, PackNotes *notes);

// A file to store: read from path, stored under name.
typedef struct PackSource {
    std::string name;
    std::string path;
} PackSource;

// Every regular file below folder, appended to *sources under its path relative to folder with
// backslashes ("docs\readme.txt"), sorted by name so that the same folder always gives the same
// archive. A link to a file is stored, under its own name, as the file it names when that file
// lies inside folder (both compared as canonical paths); links to folders are not followed.
// Returns false with *error, and nothing appended, when folder is no folder or cannot be read,
// and at a link that leads out of it.
bool Pack_ScanFolder(const std::string &folder, std::vector<PackSource> *sources,
                     std::string *error);

// The build command's work: the script's text form at scriptPath (none when empty) compiled
// into "install.dat", then every source listed by its size (refused at once when an entry
// cannot hold it) and read in pieces as it is stored, built into a setup from the stub at
// stubPath, or into a stand-alone archive when stubPath is empty. A setup whose script names
// an uninstaller (UNINSTALL NAME) and that has no source of the entry "uninst.exe" gets the
// file at uninstallerPath (empty: "uninst.exe" beside the stub) as that entry, and
// *bundledUninstaller its path (empty when none was added); any other build gets none, and a
// note when uninstallerPath was given. With report, the script (the text form, or else a
// source "install.dat") is first checked against the sources (check.h, the uninstaller taken
// as bundled: a stand-alone archive is no setup and is not asked for one) and the findings are
// appended; null builds the script as it is, unchecked. Returns false with *error at the
// first file that cannot be read or written, when the checks find an error, when the script
// names an uninstaller and none can be read, when uninstallerPath is given beside a source
// "uninst.exe", and at every refusal of the two builds; outputPath is then neither written nor
// replaced.
bool Pack_BuildFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, const std::string &outputPath, std::string *bundledUninstaller,
                     std::string *error, PackNotes *notes, CheckReport *report);
// The checks of Pack_BuildFiles alone, with the findings appended to *report: the script is
// the text form at scriptPath, or else the source "install.dat". The uninstaller counts as
// bundled when stubPath and uninstallerPath are both empty (the build will add one or refuse),
// otherwise only when the file the build would bundle can be opened. Of the sources, only a
// hand-made script, an uninstaller and the fonts that FONT names are read; of every other, its
// size. Returns false with *error when a file cannot be read or is too large for an entry, when
// there is no script, or when the checks find an error.
bool Pack_CheckFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, CheckReport *report, std::string *error);
// True when the compiled script, scanned as the setup runs it, reaches an UNINSTALL NAME
// command (in any letter case): each marker starts a command whose keyword runs to ':', and
// the scan goes on behind the arguments the keyword takes, so an argument is never read as a
// command. Stops, false, at a keyword the setup does not know, where the setup stops too.
bool Pack_ScriptNamesUninstaller(const PackBytes &script);
// The script's text form in the file at path, compiled. False with *error when it cannot be
// read or compiled.
bool Pack_CompileScript(const std::string &path, PackBytes *script, std::string *error);

// The position of the valid stamp record in the file at path, or -1 when there is none.
int64_t Pack_FindStamp(const std::string &path);
// Opens the archive of path (through its trailer, or at offset 0) with the Type2 codec and
// describes every entry, naming those that a candidate name hashes to. False with *error when
// it cannot be opened. The archive is closed again.
bool Pack_List(const std::string &path, const std::vector<std::string> &candidates,
               std::vector<PackEntryInfo> *entries, uint32_t *flags, std::string *error);
// Loads the named entry through the reader. False with *error when it is missing or unreadable.
bool Pack_Extract(const std::string &path, const std::string &name, PackBytes *data,
                  std::string *error);
// Stamp check and a decode of every entry; *report gets one line per finding. True when all
// passed.
bool Pack_Verify(const std::string &path, std::vector<std::string> *report);

// Whole-file helpers with a readable error.
bool Pack_ReadFile(const std::string &path, PackBytes *data, std::string *error);
// Writes path through path + ".part", committed to the disk and renamed into place only when
// complete. False with *error otherwise; the .part file is removed, an old path stays.
bool Pack_WriteFile(const std::string &path, const PackBytes &data, std::string *error);
