// The setup image: stub, version resource, archive, trailer and the integrity stamp written
// last over the whole finished file; a stand-alone archive written the same way; the stamp
// found again in a finished file.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "pack-archive.h"
#include "tessel-pe.h"

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

// The position of the valid stamp record in the file at path, or -1 when there is none.
int64_t Pack_FindStamp(const std::string &path);
// The PE header's signing fields of a whole file in memory (see Pe_ReadSignature).
bool Pack_ReadSignature(const PackBytes &file, PeSignature *signature);
