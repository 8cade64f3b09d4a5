// The fuzz targets' bodies, shared by the libFuzzer targets and the corpus replay.
#include "fuzz-entries.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "command.h"
#include "ffs-enc2.h"
#include "ffs-lzma.h"
#include "ffs.h"
#include "filelist.h"
#include "host-ui.h"
#include "installrecord.h"
#include "iscript.h"
#include "keywords.h"
#include "pathguard.h"
#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-stamp.h"
#include "uninstscript.h"

static void Check(int condition) {
    if (!condition) __builtin_trap();
}

// Writes the input as the file name of the working folder.
static void WriteInput(const char *name, const uint8_t *data, size_t size) {
    FILE *file = fopen(name, "wb");
    if (!file) abort();
    if (size && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
}

static MemStats Stats(void) {
    MemStats stats = {};
    Mem_GetStats(&stats);
    return stats;
}

static void CheckAllGivenBack(const MemStats &before) {
    MemStats after = Stats();
    Check(after.blockCount == before.blockCount && after.bytesInUse == before.bytesInUse);
}

static void ReleaseRegistry(void) { Cmd_ReleaseAll(); }

static void StartMemory(void) {
    static int done = 0;
    if (done) return;
    done = 1;
    Mem_Init(MEM_NO_LIMIT, 0);
}

static void EnterWorkFolder(void) {
    static int done = 0;
    if (done) return;
    done = 1;
    char folder[] = "/tmp/tessel-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) abort();
    // UNINSTALL NAME finds an uninstaller and adds its share to the install size.
    FILE *uninstaller = fopen("uninst.exe", "wb");
    if (!uninstaller) abort();
    static const char block[4096] = {'M', 'Z'};
    for (int i = 0; i < 25; i++) fwrite(block, 1, sizeof block, uninstaller);
    fclose(uninstaller);
}

static void RegisterKeywords(void) {
    static int done = 0;
    if (done) return;
    done = 1;
    HostUi_Reset(); // the engine's stand-ins, recorded
    HostUi_SetEcho(0);
    Cmd_RegisterAll();
    Script_RegisterBreak();
    atexit(ReleaseRegistry); // before the leak check, which was registered first
}

// ---- Archive reader ----

// Sizes above this are not loaded (the reader would allocate them honestly; the fuzzer's
// memory limit would not like it).
enum { LOAD_LIMIT = 1 << 16 };

static void LoadEntry(uint32_t hash) {
    int32_t size = 0;
    if (!Ffs_GetEntrySize(hash, &size) || size < 0 || size > LOAD_LIMIT) return;
    // An exact heap area: the sanitizer catches a byte written past it.
    uint8_t *buffer = (uint8_t *)malloc(size ? (size_t)size : 1);
    Ffs_LoadEntry(hash, buffer, size);
    Ffs_LoadEntry(hash, buffer, size / 2); // a wrong size must fail cleanly too
    free(buffer);
}

void Fuzz_Archive(const uint8_t *data, size_t size) {
    StartMemory();
    EnterWorkFolder();
    WriteInput("setup.exe", data, size);
    MemStats before = Stats();
    if (Ffs_Open("setup.exe", 0)) {
        Ffs_AddCodec(&Type2_Codec);
        Ffs_AddCodec(&Lzma_Codec);
        uint32_t count = Ffs_EntryCount();
        for (uint32_t i = 0; i < count && i < 64; i++) {
            uint32_t hash = 0, offset = 0;
            Check(Ffs_EntryAt(i, &hash, &offset) == 1);
            LoadEntry(hash);
        }
        static const char *names[] = {"install.dat", "uninst.exe", "INSTALL.DAT"};
        for (const char *name : names) LoadEntry(Ffs_HashName(name));
    }
    Ffs_Close();
    if (size >= CORE_STAMP_SIZE) {
        Core_VerifyStampRecord(data, CORE_STAMP_KEY, "setup.exe", 0, 0);
        Core_VerifyStampRecord(data + size - CORE_STAMP_SIZE, CORE_STAMP_KEY, "setup.exe", 1, 1);
    }
    CheckAllGivenBack(before);
}

// ---- Script engine ----

static void CheckText(const char *field, size_t size) { Check(memchr(field, 0, size) != NULL); }

static void CheckList(const InstallState *state, const char *list) {
    if (!list) return;
    Check(list >= state->ScriptText && list <= state->ScriptText + state->ScriptSize);
}

static void CheckState(const InstallState *state) {
    const char *fields[] = {state->Caption,        state->CompanyName,       state->ProductName,
                            state->ProductVersion, state->ListServerAddress, state->ListServerList,
                            state->RegistryPath,   state->InstallPath,       state->InstallDir,
                            state->InstallName,    state->UninstallName,     state->UpdateUrl};
    for (const char *field : fields) CheckText(field, INSTALL_TEXT_SIZE);
    CheckText(state->RelaunchPath, sizeof state->RelaunchPath);
    CheckList(state, state->FileList);
    CheckList(state, state->TempList);
    Check(state->ScriptPosition >= state->ScriptText &&
          state->ScriptPosition <= state->ScriptText + state->ScriptSize);
}

static void RunOnce(int32_t mode) {
    InstallState *state = NULL;
    Check(Script_Load(&state, "install.dat", mode) == 1);
    Script_Run(state, NULL);
    CheckState(state);
    if (mode == Interactive) {
        void *window = (void *)0x1000;
        for (int attempt = 0; attempt < 3 && !Script_Run(state, window); attempt++)
            CheckState(state);
        CheckState(state);
    }
    Script_Release(&state);
}

void Fuzz_Script(const uint8_t *data, size_t size) {
    StartMemory();
    EnterWorkFolder();
    RegisterKeywords();
    WriteInput("install.dat", data, size);
    MemStats before = Stats();
    RunOnce(Quiet);
    RunOnce(Interactive);
    CheckAllGivenBack(before);
}

// ---- The uninstaller's script ----

// Reads one FILE LIST's items as the uninstaller does, each through the path tests.
static void ReadItems(const char *list) {
    static const GuardedFolder guarded[] = {{"the Windows folder", "C:\\Windows\\"}};
    int32_t cursor = 0;
    while (!Keyword_IsTerminator(list[cursor])) {
        char item[INSTALL_ITEM_SIZE];
        int32_t before = cursor;
        FileList_NextItem(list, &cursor, item, sizeof item);
        CheckText(item, sizeof item);
        if (cursor == before) break;
        int which = 0;
        int verdict = PathGuard_CheckFolder(item, guarded, 1, &which);
        Check(verdict >= GUARD_ACCEPTED && verdict <= GUARD_HOLDS && which >= -1 && which < 1);
        PathGuard_IsInside(item, "C:\\Program Files\\Rocket\\");
        char reason[64];
        PathGuard_Describe(verdict, item, "the Windows folder", reason, sizeof reason);
        CheckText(reason, sizeof reason);
    }
}

static int VisitCommand(int32_t keyword, const char *arguments, void *context) {
    const char *script = (const char *)context;
    Check(arguments >= script);
    if (keyword == KW_FILE_LIST) {
        ReadItems(arguments);
        return 1;
    }
    int32_t cursor = 0;
    for (int32_t i = 0; i < Keyword_Info(keyword)->ArgCount; i++) {
        char field[INSTALL_TEXT_SIZE];
        Cmd_ReadArg(arguments, field, &cursor);
        CheckText(field, sizeof field);
    }
    return 1;
}

// The input as the install record beside an uninstaller: a damaged one reads as empty; one that
// reads writes back to the same bytes, and every decision on its entries keeps its bounds.
static void ReadRecord(const uint8_t *data, size_t size) {
    InstallRecord record = {};
    if (!Record_Parse((const char *)data, (int32_t)size, &record)) {
        Check(record.Count == 0 && record.Lines == NULL);
        return;
    }
    int32_t formatted = 0;
    char *text = Record_Format(&record, &formatted);
    Check((size_t)formatted == size && memcmp(text, data, size) == 0);
    Mem_Free((void **)&text, formatted, 1, __FILE__, __LINE__);
    for (int32_t at = 0; at < record.Length;) {
        const char *line = record.Lines + at;
        const char *end = (const char *)memchr(line, '\r', (size_t)(record.Length - at));
        Check(end && end - line > 3 && end - line - 3 < RECORD_PATH_SIZE);
        char path[RECORD_PATH_SIZE];
        snprintf(path, sizeof path, "%.*s", (int)(end - line - 3), line + 3);
        int flags = Record_Find(&record, path);
        Check(flags >= 0 && flags <= (RECORD_WRITTEN | RECORD_SHARED));
        for (int32_t count = RECORD_NO_COUNT; count <= 2; count++) {
            RecordVerdict verdict = Record_Decide(1, 1, flags, count);
            Check(verdict.Verdict >= VERDICT_REMOVE && verdict.Verdict <= VERDICT_SHARED);
            Check(verdict.Count == RECORD_KEEP_COUNT || verdict.Count == RECORD_DROP_COUNT ||
                  (verdict.Count >= 1 && verdict.Count < count));
        }
        at += (int32_t)(end - line) + 2;
    }
    Record_Free(&record);
}

// The input as the clean-up mode's command line: both fields terminated inside their buffers.
static void ReadCleanup(const uint8_t *data, size_t size) {
    char arguments[1024], file[320], folder[320];
    snprintf(arguments, sizeof arguments, "-Cleanup %.*s", (int)(size < 1000 ? size : 1000),
             (const char *)data);
    uint32_t handle = 0;
    int read = UninstScript_CleanupArguments(arguments, &handle, file, folder, sizeof file);
    Check(read ? file[0] && folder[0] : !file[0] && !folder[0]);
    CheckText(file, sizeof file);
    CheckText(folder, sizeof folder);
    UninstScript_IsCleanupCopy(file, "C:\\users\\me\\Temp\\");
}

void Fuzz_Uninst(const uint8_t *data, size_t size) {
    StartMemory();
    static const uint8_t program[64] = {'M', 'Z'}; // the uninstaller's own image before U
    if (size > (1u << 20)) return;
    size_t total = sizeof program + size;
    uint8_t *file = (uint8_t *)malloc(total); // an exact heap area
    memcpy(file, program, sizeof program);
    memcpy(file + sizeof program, data, size);
    MemStats before = Stats();
    char *script = NULL;
    int32_t scriptSize = -1;
    if (UninstScript_Extract(file, (int32_t)total, &script, &scriptSize)) {
        Check(script && scriptSize >= 0 && (size_t)scriptSize <= total && script[scriptSize] == 0);
        InstallState state;
        memset(&state, 0, sizeof state);
        UninstScript_Settings(script, scriptSize, &state);
        const char *fields[] = {state.CompanyName, state.ProductName, state.RegistryPath,
                                state.InstallDir, state.UninstallName};
        for (const char *field : fields) CheckText(field, INSTALL_TEXT_SIZE);
        UninstScript_Walk(script, scriptSize, VisitCommand, script);
        UninstScript_Free(&script, scriptSize);
    }
    Check(script == NULL);
    ReadRecord(data, size);
    ReadCleanup(data, size);
    CheckAllGivenBack(before);
    free(file);
}

// ---- Type2 codec ----

// A block read again in pieces: the source never asked past the block, the sink handed no more
// than the whole decoder's bytes, and those.
typedef struct Pieces {
    const uint8_t *block;
    size_t length, read;
    const uint8_t *expected;
    size_t size, compared;
} Pieces;

static int ReadPiece(void *context, uint8_t *buffer, int32_t n) {
    Pieces *pieces = (Pieces *)context;
    Check(n > 0 && n <= TYPE2_PIECE_SIZE && pieces->read + (size_t)n <= pieces->length);
    memcpy(buffer, pieces->block + pieces->read, (size_t)n);
    pieces->read += (size_t)n;
    return 1;
}

static int ComparePiece(void *context, const uint8_t *output, int32_t n) {
    Pieces *pieces = (Pieces *)context;
    Check(n > 0 && n <= TYPE2_PIECE_SIZE && pieces->compared + (size_t)n <= pieces->size);
    Check(memcmp(output, pieces->expected + pieces->compared, (size_t)n) == 0);
    pieces->compared += (size_t)n;
    return 1;
}

static void Decode(const uint8_t *data, size_t size) {
    if (size < 2) return;
    int32_t wanted = 1 + (int32_t)(data[0] | (data[1] << 8)); // 1 to 65536 bytes
    size_t blockLength = TYPE2_HEADER_SIZE + size - 2;
    uint8_t *block = (uint8_t *)malloc(blockLength);
    memcpy(block, TYPE2_TAG, 4);
    uint32_t complement = ~(uint32_t)wanted;
    for (int i = 0; i < 4; i++) block[4 + i] = (uint8_t)(complement >> (8 * i));
    memcpy(block + TYPE2_HEADER_SIZE, data + 2, size - 2);
    uint8_t *output = (uint8_t *)malloc((size_t)wanted);
    int decoded = Type2_Decompress(block, (int32_t)blockLength, output, wanted);
    Check(decoded == 0 || decoded == 1);
    // In pieces: the same verdict, and up to it the same bytes (a block that runs out hands on
    // no more than its whole pieces before that).
    Pieces pieces = {block, blockLength, 0, output, (size_t)wanted, 0};
    Check(Type2_DecompressStream(ReadPiece, &pieces, (int32_t)blockLength, ComparePiece, &pieces,
                                 wanted) == decoded);
    Check(decoded ? pieces.compared == (size_t)wanted : pieces.compared % TYPE2_PIECE_SIZE == 0);
    // The decoder apart (INSTALL's second thread) says the same and gives the same bytes.
    uint8_t *apart = (uint8_t *)malloc((size_t)wanted);
    Check(Type2_DecompressApart(block, (int32_t)blockLength, apart, wanted) == decoded);
    Check(!decoded || memcmp(apart, output, (size_t)wanted) == 0);
    free(apart);
    free(output);
    free(block);
}

static void RoundTrip(const uint8_t *data, size_t size) {
    if (size > (1 << 20)) return;
    size_t capacity = size * 3 + 64;
    uint8_t *block = (uint8_t *)malloc(capacity);
    int32_t blockLength = (int32_t)capacity;
    if (Type2_Compress(data, (int32_t)size, block, &blockLength)) {
        Check(blockLength < (int32_t)size);
        uint8_t *output = (uint8_t *)malloc(size);
        Check(Type2_Decompress(block, blockLength, output, (int32_t)size) == 1);
        Check(memcmp(output, data, size) == 0);
        // Its last byte holds code bits: without it the block runs out.
        Check(Type2_Decompress(block, blockLength - 1, output, (int32_t)size) == 0);
        free(output);
    }
    free(block);
}

void Fuzz_Type2(const uint8_t *data, size_t size) {
    StartMemory();
    // Its own working state: the archive reader's codec gives its state back when it closes.
    Type2_Init();
    Decode(data, size);
    RoundTrip(data, size);
    Type2_Shutdown();
}

// ---- LZMA codec ----

// A block read in pieces (Pieces as for Type2): the source never asked past the block, the sink
// never handed more than the size.
static int TakePiece(void *context, const uint8_t *output, int32_t n) {
    Pieces *pieces = (Pieces *)context;
    Check(n > 0 && n <= LZMA_PIECE_SIZE && pieces->compared + (size_t)n <= pieces->size);
    memcpy((uint8_t *)pieces->expected + pieces->compared, output, (size_t)n);
    pieces->compared += (size_t)n;
    return 1;
}

// The properties a fuzzed block names: the usual ones and the bounds.
static const uint8_t LzmaProperties[8][3] = {{3, 0, 2}, {0, 0, 0}, {4, 0, 4}, {0, 4, 0},
                                             {1, 3, 1}, {2, 2, 4}, {3, 1, 0}, {0, 2, 2}};

void Fuzz_Lzma(const uint8_t *data, size_t size) {
    if (size < 3) return;
    StartMemory();
    const uint8_t *p = LzmaProperties[(data[0] >> 1) & 7];
    int32_t wanted = 1 + (int32_t)(data[1] | (data[2] << 8)); // 1 to 65536 bytes
    uint32_t dictSize = 4096u << ((data[0] >> 4) % 12);       // 4 KB to 8 MiB
    size_t blockLength = LZMA_HEADER_SIZE + size - 3;
    uint8_t *block = (uint8_t *)malloc(blockLength);
    memcpy(block, LZMA_TAG, 4);
    Le_Put32(block + 4, ~(uint32_t)wanted);
    block[8] = data[0] & 1;
    block[9] = (uint8_t)((p[2] * 5 + p[1]) * 9 + p[0]);
    Le_Put32(block + 10, dictSize);
    block[14] = block[15] = 0;
    memcpy(block + LZMA_HEADER_SIZE, data + 3, size - 3);
    uint8_t *output = (uint8_t *)malloc((size_t)wanted);
    int decoded = Lzma_Decompress(block, (int32_t)blockLength, output, wanted);
    Check(decoded == 0 || decoded == 1);
    // Apart: the same verdict and bytes.
    uint8_t *apart = (uint8_t *)malloc((size_t)wanted);
    Check(Lzma_DecompressApart(block, (int32_t)blockLength, apart, wanted) == decoded);
    Check(!decoded || memcmp(apart, output, (size_t)wanted) == 0);
    // In pieces: the same verdict; the bytes handed on are the whole decoder's (unconverted
    // ones too, where a refused block leaves the converter's input in the output).
    uint8_t *streamed = (uint8_t *)malloc((size_t)wanted);
    Pieces pieces = {block, blockLength, 0, streamed, (size_t)wanted, 0};
    Check(Lzma_DecompressStream(ReadPiece, &pieces, (int32_t)blockLength, TakePiece, &pieces,
                                wanted) == decoded);
    Check(decoded ? pieces.compared == (size_t)wanted : pieces.compared < (size_t)wanted);
    Check(!(decoded || block[8] == 0) || memcmp(streamed, output, pieces.compared) == 0);
    free(streamed);
    free(apart);
    free(output);
    free(block);
}
