// Reading an entry's content: its parts opened in turn, read in pieces, and each file's end
// checked against the size it was listed with.
#include "pack-input.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "check-names.h"
#include "tessel-sys.h"

uint64_t Pack_InputSize(const PackInput &input) {
    return input.path.empty() ? input.data.size() : input.size;
}

PackContent Pack_ContentOf(const PackInput &input) {
    return PackContent{input.name, {&input}, Pack_InputSize(input)};
}

namespace {

// Opens the reader's current part. False, with the reason kept, when its file cannot be opened.
bool OpenPart(PackReader *reader) {
    const PackInput &input = *reader->content->parts[reader->part];
    reader->partRead = 0;
    if (input.path.empty()) return true;
    reader->file = Sys_FileOpen(input.path.c_str(), "rb");
    if (reader->file) return true;
    reader->openError = "cannot open " + Check_Quoted(input.path) + ": " + strerror(errno);
    reader->culprit = &input;
    reader->failed = true;
    return false;
}

// Closes the current part's file, checking that it ends where all of it was read.
void ClosePart(PackReader *reader) {
    const PackInput &input = *reader->content->parts[reader->part];
    if (!reader->file) return;
    if (!reader->failed && !reader->changed && reader->partRead == input.size) {
        uint8_t more;
        int32_t got = 0;
        reader->failed = !Sys_FileRead(reader->file, &more, 1, &got);
        reader->changed = got != 0;
    }
    reader->failed = !Sys_FileClose(reader->file) || reader->failed;
    reader->file = nullptr;
    if ((reader->failed || reader->changed) && !reader->culprit) reader->culprit = &input;
}

} // namespace

bool Pack_OpenReader(const PackContent &content, PackReader *reader, std::string *error) {
    *reader = PackReader{&content, 0, nullptr, 0, 0, {0, 0, 0, 0}, false, false, nullptr, {}};
    if (OpenPart(reader)) return true;
    *error = reader->openError;
    return false;
}

int Pack_Read(void *context, uint8_t *buffer, int32_t n) {
    PackReader *reader = (PackReader *)context;
    const PackContent &content = *reader->content;
    if (reader->failed || reader->changed || n < 0 || reader->read + (uint64_t)n > content.size) {
        reader->failed = true;
        return 0;
    }
    for (int32_t done = 0; done < n;) {
        const PackInput *input = content.parts[reader->part];
        const uint64_t partSize = Pack_InputSize(*input);
        if (reader->partRead == partSize) { // the next part
            ClosePart(reader);
            if (reader->failed || reader->changed) return 0;
            reader->part++;
            if (!OpenPart(reader)) return 0;
            continue;
        }
        const int32_t part = (int32_t)std::min<uint64_t>(partSize - reader->partRead, n - done);
        if (input->path.empty()) {
            memcpy(buffer + done, input->data.data() + reader->partRead, (size_t)part);
        } else {
            int32_t got = 0;
            reader->failed = !Sys_FileRead(reader->file, buffer + done, part, &got);
            reader->changed = !reader->failed && got != part;
            if (reader->failed || reader->changed) {
                reader->culprit = input;
                return 0;
            }
        }
        for (uint64_t i = reader->read; i < 4 && i < reader->read + (uint64_t)part; i++)
            reader->head[i] = buffer[done + (i - reader->read)];
        reader->partRead += (uint64_t)part;
        reader->read += (uint64_t)part;
        done += part;
    }
    return 1;
}

bool Pack_CloseReader(PackReader *reader, std::string *error) {
    ClosePart(reader);
    const PackInput *input = reader->culprit ? reader->culprit : reader->content->parts[0];
    const std::string name = Check_Quoted(input->path.empty() ? input->name : input->path);
    if (!reader->openError.empty())
        *error = reader->openError;
    else if (reader->changed)
        *error = name + " changed while the setup was built (it had " +
                 std::to_string(input->size) + " bytes when it was listed)";
    else if (reader->failed)
        *error = "cannot read " + (reader->culprit || reader->content->parts.size() == 1
                                       ? name
                                       : Check_Quoted(reader->content->name));
    return !reader->failed && !reader->changed;
}
