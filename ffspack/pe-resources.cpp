// Reading and writing the resource tree of a PE image: the headers and section table, the tree's
// three levels (type, name, language) and its data entries, and the placement of a new tree in a
// section at the end of the image.
#include "pe-resources.h"

#include <string.h>

#include <algorithm>

#include "tessel-bytes.h"
#include "tessel-pe.h"

namespace {

enum {
    NEW_HEADER_AT = 0x3C,
    FILE_HEADER_SIZE = 24, // "PE\0\0" and the file header
    SECTION_COUNT_AT = 6,  // in the file header, from the signature
    OPTIONAL_SIZE_AT = 20,
    INITIALIZED_DATA_AT = 8, // in the optional header, the same for PE32 and PE32+
    SECTION_ALIGNMENT_AT = 32,
    FILE_ALIGNMENT_AT = 36,
    IMAGE_SIZE_AT = 56,
    HEADERS_SIZE_AT = 60,
    RESOURCE_INDEX = 2, // the resource table's data directory entry
    DIRECTORY_SIZE = 16,
    ENTRY_SIZE = 8,
    DATA_ENTRY_SIZE = 16,
    SECTION_DATA = 0x40000040, // initialized data, readable
};
// In a directory entry: the name is a text (and its offset the rest), or the entry leads to a
// directory rather than to a data entry.
const uint32_t HIGH_BIT = 0x80000000u;

typedef struct Section {
    uint32_t headerAt; // file offset of its header
    uint32_t virtualSize, va, rawSize, rawPointer;
} Section;

typedef struct Image {
    uint32_t pe, optional, directoryCount, directories, table;
    uint32_t sectionAlignment, fileAlignment, headersSize;
    std::vector<Section> sections;
} Image;

uint32_t Get16(const std::vector<uint8_t> &file, size_t at) { return Le_Get16(&file[at]); }
uint32_t Get32(const std::vector<uint8_t> &file, size_t at) { return Le_Get32(&file[at]); }
void Put16(std::vector<uint8_t> *file, size_t at, uint32_t value) {
    (*file)[at] = (uint8_t)value;
    (*file)[at + 1] = (uint8_t)(value >> 8);
}
void Put32(std::vector<uint8_t> *file, size_t at, uint32_t value) { Le_Put32(&(*file)[at], value); }

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
    return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

// The headers and the section table of file, all checked to lie inside it.
bool ReadImage(const std::vector<uint8_t> &file, Image *image) {
    if (file.size() < NEW_HEADER_AT + 4 || file[0] != 'M' || file[1] != 'Z') return false;
    image->pe = Get32(file, NEW_HEADER_AT);
    if ((uint64_t)image->pe + FILE_HEADER_SIZE + 2 > file.size() ||
        memcmp(&file[image->pe], "PE\0\0", 4) != 0)
        return false;
    image->optional = image->pe + FILE_HEADER_SIZE;
    uint32_t optionalSize = Get16(file, image->pe + OPTIONAL_SIZE_AT);
    uint32_t magic = Get16(file, image->optional);
    uint32_t countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    if (!countAt || countAt + 4 > optionalSize ||
        (uint64_t)image->optional + optionalSize > file.size())
        return false;
    image->directories = image->optional + countAt + 4;
    image->directoryCount =
        std::min(Get32(file, image->optional + countAt), (optionalSize - countAt - 4) / ENTRY_SIZE);
    image->sectionAlignment = Get32(file, image->optional + SECTION_ALIGNMENT_AT);
    image->fileAlignment = Get32(file, image->optional + FILE_ALIGNMENT_AT);
    image->headersSize = Get32(file, image->optional + HEADERS_SIZE_AT);
    image->table = image->optional + optionalSize;
    uint32_t count = Get16(file, image->pe + SECTION_COUNT_AT);
    if ((uint64_t)image->table + (uint64_t)count * PE_SECTION_SIZE > file.size()) return false;
    image->sections.clear();
    for (uint32_t i = 0; i < count; i++) {
        uint32_t at = image->table + i * PE_SECTION_SIZE;
        image->sections.push_back(Section{at, Get32(file, at + 8), Get32(file, at + 12),
                                          Get32(file, at + 16), Get32(file, at + 20)});
    }
    return true;
}

// The file offset of size bytes at rva, inside one section's file data; false when they do not
// lie whole in one.
bool OffsetOf(const std::vector<uint8_t> &file, const Image &image, uint32_t rva, uint32_t size,
              uint32_t *offset, const Section **holder = nullptr) {
    for (const Section &section : image.sections) {
        uint64_t inside = (uint64_t)rva - section.va;
        if (rva < section.va || inside + size > section.rawSize) continue;
        if (section.rawPointer + inside + size > file.size()) return false;
        *offset = (uint32_t)(section.rawPointer + inside);
        if (holder) *holder = &section;
        return true;
    }
    return false;
}

// The tree being read: its bytes are those of the section that holds its root, from base to
// limit (file offsets); every offset of the tree is taken from base.
typedef struct Tree {
    const std::vector<uint8_t> *file;
    uint32_t base, limit;
    std::vector<PeResource> *resources;
} Tree;

bool ReadName(const Tree &tree, uint32_t field, PeResName *name) {
    *name = PeResName{(field & HIGH_BIT) != 0, (uint16_t)field, {}};
    if (!name->named) return field <= 0xFFFF;
    uint64_t at = (uint64_t)tree.base + (field & ~HIGH_BIT);
    if (at + 2 > tree.limit) return false;
    uint32_t length = Get16(*tree.file, (size_t)at);
    if (at + 2 + 2 * (uint64_t)length > tree.limit) return false;
    for (uint32_t i = 0; i < length; i++)
        name->text += (char16_t)Get16(*tree.file, (size_t)(at + 2 + 2 * i));
    return true;
}

// Reads the directory at offset of level 0 (types), 1 (names) or 2 (languages), the names of
// the levels above in *path.
bool ReadDirectory(const Tree &tree, uint32_t offset, int level, PeResource *path) {
    const std::vector<uint8_t> &file = *tree.file;
    uint64_t at = (uint64_t)tree.base + offset;
    if (at + DIRECTORY_SIZE > tree.limit) return false;
    uint64_t count = Get16(file, (size_t)at + 12) + Get16(file, (size_t)at + 14);
    if (at + DIRECTORY_SIZE + count * ENTRY_SIZE > tree.limit) return false;
    for (uint64_t i = 0; i < count; i++) {
        size_t entry = (size_t)(at + DIRECTORY_SIZE + i * ENTRY_SIZE);
        PeResName *name = level == 0 ? &path->type : level == 1 ? &path->name : &path->language;
        uint32_t target = Get32(file, entry + 4);
        if (!ReadName(tree, Get32(file, entry), name)) return false;
        // Only the languages' entries point at data; a subdirectory there, or data above them,
        // is no tree that a loader reads.
        if ((level < 2) != ((target & HIGH_BIT) != 0)) return false;
        if (level < 2) {
            if (!ReadDirectory(tree, target & ~HIGH_BIT, level + 1, path)) return false;
            continue;
        }
        uint64_t data = (uint64_t)tree.base + target;
        if (data + DATA_ENTRY_SIZE > tree.limit) return false;
        if (tree.resources->size() >= PERES_MAX_RESOURCES) return false;
        path->rva = Get32(file, (size_t)data);
        path->size = Get32(file, (size_t)data + 4);
        path->codePage = Get32(file, (size_t)data + 8);
        tree.resources->push_back(*path);
    }
    return true;
}

// The resource entry's rva and size; false when the image has no entry for it.
bool ResourceEntry(const std::vector<uint8_t> &file, const Image &image, uint32_t *rva,
                   uint32_t *size) {
    if (image.directoryCount <= RESOURCE_INDEX) return false;
    *rva = Get32(file, image.directories + RESOURCE_INDEX * ENTRY_SIZE);
    *size = Get32(file, image.directories + RESOURCE_INDEX * ENTRY_SIZE + 4);
    return *rva != 0;
}

} // namespace

bool PeRes_IsImage(const std::vector<uint8_t> &file) {
    Image image;
    if (!ReadImage(file, &image) || !image.sectionAlignment || !image.fileAlignment) return false;
    for (const Section &section : image.sections)
        if (section.rawSize) return true;
    return false;
}

bool PeRes_Read(const std::vector<uint8_t> &file, std::vector<PeResource> *resources,
                std::string *error) {
    resources->clear();
    Image image;
    if (!ReadImage(file, &image)) {
        *error = "no PE image (or its headers are cut short)";
        return false;
    }
    uint32_t rva = 0, size = 0, base = 0;
    if (!ResourceEntry(file, image, &rva, &size)) return true;
    const Section *holder = nullptr;
    if (!OffsetOf(file, image, rva, DIRECTORY_SIZE, &base, &holder)) {
        *error = "the resource tree does not lie in a section's file data";
        return false;
    }
    const uint64_t sectionEnd = (uint64_t)holder->rawPointer + holder->rawSize;
    Tree tree{&file, base, (uint32_t)std::min<uint64_t>(sectionEnd, file.size()), resources};
    PeResource path{};
    if (!ReadDirectory(tree, 0, 0, &path)) {
        resources->clear();
        *error = "the resource tree is damaged (an entry leads outside its section)";
        return false;
    }
    return true;
}

bool PeRes_Data(const std::vector<uint8_t> &file, const PeResource &resource,
                std::vector<uint8_t> *data, std::string *error) {
    Image image;
    uint32_t offset = 0;
    if (!ReadImage(file, &image) || !OffsetOf(file, image, resource.rva, resource.size, &offset)) {
        *error = "a resource's bytes do not lie in a section's file data";
        return false;
    }
    data->assign(file.begin() + offset, file.begin() + offset + resource.size);
    return true;
}

namespace {

// Named entries first, by their text, then numbers in ascending order: the order in which a
// loader searches a directory.
bool Before(const PeResName &a, const PeResName &b) {
    if (a.named != b.named) return a.named;
    return a.named ? a.text < b.text : a.id < b.id;
}

bool Same(const PeResName &a, const PeResName &b) { return !Before(a, b) && !Before(b, a); }

void PutName(std::vector<uint8_t> *tree, size_t entry, const PeResName &name,
             std::vector<uint8_t> *strings, size_t stringsAt) {
    if (!name.named) {
        Put32(tree, entry, name.id);
        return;
    }
    Put32(tree, entry, (uint32_t)(HIGH_BIT | (stringsAt + strings->size())));
    strings->push_back((uint8_t)name.text.size());
    strings->push_back((uint8_t)(name.text.size() >> 8));
    for (char16_t unit : name.text) {
        strings->push_back((uint8_t)unit);
        strings->push_back((uint8_t)(unit >> 8));
    }
}

// The number of directories and entries that the sorted resources take: one directory for the
// root, one for each type and one for each name; one entry for each type, name and language.
void CountTree(const std::vector<PeResource> &sorted, size_t *directories, size_t *entries) {
    *directories = 1;
    *entries = sorted.size();
    for (size_t i = 0; i < sorted.size(); i++) {
        bool newType = i == 0 || !Same(sorted[i].type, sorted[i - 1].type);
        bool newName = newType || !Same(sorted[i].name, sorted[i - 1].name);
        *directories += newType + newName;
        *entries += newType + newName;
    }
}

// The tree of the sorted resources at va: directories breadth first, data entries, name texts,
// then the bytes of the resources that carry them (each at a multiple of 8).
std::vector<uint8_t> MakeTree(const std::vector<PeResource> &sorted, uint32_t va) {
    size_t directories = 0, entries = 0;
    CountTree(sorted, &directories, &entries);
    const size_t dataEntriesAt = directories * DIRECTORY_SIZE + entries * ENTRY_SIZE;
    const size_t stringsAt = dataEntriesAt + sorted.size() * DATA_ENTRY_SIZE;
    std::vector<uint8_t> tree(stringsAt, 0), strings;
    // Level by level: the directory at 'next' gets the children of the entries that point at it.
    size_t next = 0;
    auto directory = [&](size_t count) {
        size_t at = next;
        next += DIRECTORY_SIZE + count * ENTRY_SIZE;
        return at;
    };
    // Groups: the resources [first, last) that share the name of level 'level'.
    auto same = [&](size_t a, size_t b, int level) {
        return Same(sorted[a].type, sorted[b].type) &&
               (level < 1 || Same(sorted[a].name, sorted[b].name));
    };
    struct Group {
        size_t first, last, entry;
    };
    std::vector<Group> groups{{0, sorted.size(), 0}};
    for (int level = 0; level < 3; level++) {
        std::vector<Group> children;
        for (const Group &group : groups) {
            std::vector<Group> parts;
            for (size_t i = group.first; i < group.last; i++) {
                if (level == 2 || i == group.first || !same(i, i - 1, level))
                    parts.push_back(Group{i, i + 1, 0});
                else
                    parts.back().last = i + 1;
            }
            size_t at = directory(parts.size());
            if (level > 0) Put32(&tree, group.entry + 4, (uint32_t)(HIGH_BIT | (uint32_t)at));
            size_t named = 0;
            for (size_t k = 0; k < parts.size(); k++) {
                const PeResource &first = sorted[parts[k].first];
                const PeResName &name = level == 0   ? first.type
                                        : level == 1 ? first.name
                                                     : first.language;
                named += name.named;
                parts[k].entry = at + DIRECTORY_SIZE + k * ENTRY_SIZE;
                PutName(&tree, parts[k].entry, name, &strings, stringsAt);
            }
            Put16(&tree, at + 12, (uint32_t)named);
            Put16(&tree, at + 14, (uint32_t)(parts.size() - named));
            children.insert(children.end(), parts.begin(), parts.end());
        }
        groups.swap(children);
    }
    tree.insert(tree.end(), strings.begin(), strings.end());
    for (size_t i = 0; i < groups.size(); i++) {
        const PeResource &resource = sorted[groups[i].first];
        size_t entry = dataEntriesAt + i * DATA_ENTRY_SIZE;
        Put32(&tree, groups[i].entry + 4, (uint32_t)entry);
        uint32_t rva = resource.rva;
        if (resource.rva == 0) {
            tree.resize((size_t)AlignUp(tree.size(), 8), 0);
            rva = va + (uint32_t)tree.size();
            tree.insert(tree.end(), resource.data.begin(), resource.data.end());
        }
        Put32(&tree, entry, rva);
        Put32(&tree, entry + 4, resource.rva ? resource.size : (uint32_t)resource.data.size());
        Put32(&tree, entry + 8, resource.codePage);
    }
    return tree;
}

// The section that holds the resource tree when it is the image's last one (by address and in
// the file, its data ending the file): the new tree can take its place. Null otherwise.
const Section *LastResourceSection(const std::vector<uint8_t> &file, const Image &image) {
    uint32_t rva = 0, size = 0, offset = 0;
    const Section *holder = nullptr;
    if (!ResourceEntry(file, image, &rva, &size) ||
        !OffsetOf(file, image, rva, DIRECTORY_SIZE, &offset, &holder))
        return nullptr;
    for (const Section &section : image.sections)
        if (section.va > holder->va || section.rawPointer > holder->rawPointer) return nullptr;
    return (uint64_t)holder->rawPointer + holder->rawSize == file.size() ? holder : nullptr;
}

// Where the image's sections end: in the address space (rounded to the section alignment) and
// in the file.
void ImageEnds(const Image &image, uint64_t *virtualEnd, uint64_t *fileEnd) {
    *virtualEnd = AlignUp(image.headersSize, image.sectionAlignment);
    *fileEnd = image.headersSize;
    for (const Section &section : image.sections) {
        uint64_t size = std::max(section.virtualSize, section.rawSize);
        *virtualEnd = std::max(*virtualEnd, AlignUp(section.va + size, image.sectionAlignment));
        if (section.rawSize)
            *fileEnd = std::max(*fileEnd, (uint64_t)section.rawPointer + section.rawSize);
    }
}

// The file offset of a new section header, or 0 with *error when the headers have no room for
// one: it must lie before every section's data, inside the headers' size and inside the
// PE_HEAD_SIZE bytes that the setup reads, over bytes that are zero.
uint32_t NewHeaderRoom(const std::vector<uint8_t> &file, const Image &image, std::string *error) {
    uint64_t at = image.table + (uint64_t)image.sections.size() * PE_SECTION_SIZE;
    uint64_t room = std::min<uint64_t>(image.headersSize, PE_HEAD_SIZE);
    for (const Section &section : image.sections)
        if (section.rawSize) room = std::min<uint64_t>(room, section.rawPointer);
    bool free = at + PE_SECTION_SIZE <= room && at + PE_SECTION_SIZE <= file.size();
    for (uint64_t i = at; free && i < at + PE_SECTION_SIZE; i++) free = file[(size_t)i] == 0;
    if (!free) {
        *error = "the image's headers have no room for one more section header";
        return 0;
    }
    return (uint32_t)at;
}

} // namespace

bool PeRes_Write(std::vector<uint8_t> *file, std::vector<PeResource> resources,
                 std::string *error) {
    Image image;
    if (!ReadImage(*file, &image) || image.directoryCount <= RESOURCE_INDEX ||
        !image.sectionAlignment || !image.fileAlignment) {
        *error = "no PE image with a resource entry (or its headers are cut short)";
        return false;
    }
    uint64_t virtualEnd = 0, fileEnd = 0;
    ImageEnds(image, &virtualEnd, &fileEnd);
    if (fileEnd != file->size()) {
        *error = std::to_string((int64_t)file->size() - (int64_t)fileEnd) +
                 " bytes lie behind the image's sections (an archive, a signature?); give the "
                 "image as it was linked";
        return false;
    }
    const Section *replaced = LastResourceSection(*file, image);
    uint32_t headerAt = replaced ? replaced->headerAt : NewHeaderRoom(*file, image, error);
    if (!headerAt) return false;
    // Bytes that lie in the section being replaced move into the new one.
    for (PeResource &resource : resources) {
        if (!replaced || resource.rva < replaced->va ||
            resource.rva >= (uint64_t)replaced->va + replaced->rawSize)
            continue;
        if (!PeRes_Data(*file, resource, &resource.data, error)) return false;
        resource.rva = 0;
    }
    std::stable_sort(resources.begin(), resources.end(),
                     [](const PeResource &a, const PeResource &b) {
                         if (!Same(a.type, b.type)) return Before(a.type, b.type);
                         if (!Same(a.name, b.name)) return Before(a.name, b.name);
                         return Before(a.language, b.language);
                     });
    const uint64_t va = replaced ? replaced->va : virtualEnd;
    const uint64_t rawPointer =
        replaced ? replaced->rawPointer : AlignUp(fileEnd, image.fileAlignment);
    std::vector<uint8_t> tree = MakeTree(resources, (uint32_t)va);
    const uint64_t rawSize = AlignUp(tree.size(), image.fileAlignment);
    const uint64_t imageSize = AlignUp(va + tree.size(), image.sectionAlignment);
    if (imageSize > 0x7FFFFFFF || rawPointer + rawSize > 0x7FFFFFFF) {
        *error = "the resource tree would make the image larger than 2 GB";
        return false;
    }
    std::vector<uint8_t> &out = *file;
    const uint32_t dataAt = image.optional + INITIALIZED_DATA_AT;
    Put32(&out, dataAt,
          Get32(out, dataAt) + (uint32_t)rawSize - (replaced ? replaced->rawSize : 0));
    if (!replaced) Put16(&out, image.pe + SECTION_COUNT_AT, (uint32_t)image.sections.size() + 1);
    Put32(&out, image.optional + IMAGE_SIZE_AT, (uint32_t)imageSize);
    Put32(&out, image.directories + RESOURCE_INDEX * ENTRY_SIZE, (uint32_t)va);
    Put32(&out, image.directories + RESOURCE_INDEX * ENTRY_SIZE + 4, (uint32_t)tree.size());
    static const uint8_t kHeader[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    std::fill(out.begin() + headerAt, out.begin() + headerAt + PE_SECTION_SIZE, 0);
    std::copy(kHeader, kHeader + 8, out.begin() + headerAt);
    Put32(&out, headerAt + 8, (uint32_t)tree.size());
    Put32(&out, headerAt + 12, (uint32_t)va);
    Put32(&out, headerAt + 16, (uint32_t)rawSize);
    Put32(&out, headerAt + 20, (uint32_t)rawPointer);
    Put32(&out, headerAt + 36, SECTION_DATA);
    out.resize((size_t)rawPointer, 0);
    out.insert(out.end(), tree.begin(), tree.end());
    out.resize((size_t)(rawPointer + rawSize), 0);
    return true;
}
