// The resource tree of a Windows image (type, name, language, data), read and written again by
// the builder: a setup's version information is put into its stub's tree before the archive is
// appended behind the image. Used by version-resource.cpp and its tests.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

enum {
    PERES_TYPE_VERSION = 16, // RT_VERSION
    PERES_MAX_RESOURCES = 65535,
};

// A name at one level of the tree: a number, or a text (UTF-16 code units).
typedef struct PeResName {
    bool named; // the text rather than the number
    uint16_t id;
    std::u16string text;
} PeResName;

// One resource: its type, name and language, and where its bytes are: at rva in the image (data
// empty), or in data, which the writer places (rva 0).
typedef struct PeResource {
    PeResName type, name, language;
    uint32_t rva;
    uint32_t size;
    uint32_t codePage;
    std::vector<uint8_t> data;
} PeResource;

// True when file holds a PE image (PE32 or PE32+) that a loader could map: its headers and
// section table inside it, its alignments set, a section with file data.
bool PeRes_IsImage(const std::vector<uint8_t> &file);
// Every resource of the image in file, in the tree's order (none when it has no tree). False
// with *error when the file is no PE image or its tree leads outside the section that holds it
// (the tree is then not trusted at all, and *resources is left empty).
bool PeRes_Read(const std::vector<uint8_t> &file, std::vector<PeResource> *resources,
                std::string *error);
// The bytes of a resource that lies in the image (at its rva), or false with *error when they
// do not lie whole in a section's file data.
bool PeRes_Data(const std::vector<uint8_t> &file, const PeResource &resource,
                std::vector<uint8_t> *data, std::string *error);
// Makes resources the image's tree, in a section of its own at the end of the image: the section
// that held the old tree is replaced when it is the image's last (its resources' bytes are
// copied into the new one), otherwise a section is added and the old one stays as it is, its
// bytes still read through their rvas. The headers (section count, image size, resource entry)
// follow. False with *error, and file untouched, when the file is no PE image, holds bytes
// behind its image (nothing may be lost), has no room in its headers for one more section
// header (within PE_HEAD_SIZE, which the setup reads), or the tree would be larger than a
// section of this image can be.
bool PeRes_Write(std::vector<uint8_t> *file, std::vector<PeResource> resources, std::string *error);
