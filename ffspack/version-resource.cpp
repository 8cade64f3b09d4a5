// The VS_VERSIONINFO block: its fields from the script, its encoding (blocks of length, value
// length, type, UTF-16 key, value and children, each at a multiple of 4), its decoding, and its
// place in the image's resource tree.
#include "version-resource.h"

#include <stdio.h>

#include "ffs.h"
#include "keywords.h"
#include "pe-resources.h"
#include "script-source.h"

namespace {

enum {
    BLOCK_HEADER = 6, // length, value length, type: 16 bits each
    TYPE_BINARY = 0,
    TYPE_TEXT = 1,
    FIXED_SIZE = 52,   // VS_FIXEDFILEINFO
    FIXED_FILE_AT = 8, // the file version's two words; the product version's follow
    FIXED_FLAGS_MASK = 0x3F,
    FIXED_OS = 0x40004, // VOS_NT_WINDOWS32
    FIXED_TYPE = 1,     // VFT_APP
    VERSION_RESOURCE_NAME = 1,
};
const uint32_t FIXED_SIGNATURE = 0xFEEF04BD;

// ---- UTF-8 and UTF-16 ----

// The code point that starts at text[*at] (advanced past it); false for no well-formed UTF-8.
bool NextCodePoint(const std::string &text, size_t *at, uint32_t *point) {
    const uint8_t lead = (uint8_t)text[*at];
    size_t length = lead < 0x80         ? 1
                    : (lead >> 5) == 6  ? 2
                    : (lead >> 4) == 14 ? 3
                    : (lead >> 3) == 30 ? 4
                                        : 0;
    if (!length || *at + length > text.size()) return false;
    uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; i++) {
        const uint8_t next = (uint8_t)text[*at + i];
        if ((next & 0xC0) != 0x80) return false;
        value = value << 6 | (next & 0x3F);
    }
    static const uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000}; // no overlong forms
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
        return false;
    *at += length;
    *point = value;
    return true;
}

bool ToUtf16(const std::string &text, std::u16string *out, std::string *error) {
    out->clear();
    for (size_t at = 0; at < text.size();) {
        uint32_t point = 0;
        if (!NextCodePoint(text, &at, &point)) {
            *error = "the text \"" + text + "\" is no UTF-8";
            return false;
        }
        if (point < 0x10000) {
            *out += (char16_t)point;
        } else {
            *out += (char16_t)(0xD800 + ((point - 0x10000) >> 10));
            *out += (char16_t)(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return true;
}

void PutUtf8(uint32_t point, std::string *out) {
    if (point < 0x80) {
        *out += (char)point;
        return;
    }
    int length = point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
    *out += (char)((0xF00 >> length) | (point >> (6 * (length - 1))));
    for (int i = length - 2; i >= 0; i--) *out += (char)(0x80 | ((point >> (6 * i)) & 0x3F));
}

// A lone surrogate, which no UTF-8 can hold, becomes U+FFFD.
std::string ToUtf8(const std::u16string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t unit = text[i];
        bool high = unit >= 0xD800 && unit < 0xDC00;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            PutUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00), &out);
        else
            PutUtf8(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit, &out);
    }
    return out;
}

// ---- Blocks ----

typedef struct Node {
    std::u16string key;
    uint16_t type;
    uint16_t valueLength; // bytes for a binary value, 16-bit units for a text
    PackBytes value;
    std::vector<Node> children;
} Node;

void Put16(PackBytes *out, size_t at, uint32_t value) {
    (*out)[at] = (uint8_t)value;
    (*out)[at + 1] = (uint8_t)(value >> 8);
}

void PutUtf16(const std::u16string &text, PackBytes *out) {
    for (char16_t unit : text) {
        out->push_back((uint8_t)unit);
        out->push_back((uint8_t)(unit >> 8));
    }
    out->push_back(0);
    out->push_back(0);
}

void Align4(PackBytes *out) { out->resize((out->size() + 3) & ~(size_t)3, 0); }

bool Emit(const Node &node, PackBytes *out, std::string *error) {
    const size_t start = out->size();
    out->resize(start + BLOCK_HEADER, 0);
    PutUtf16(node.key, out);
    Align4(out);
    out->insert(out->end(), node.value.begin(), node.value.end());
    for (const Node &child : node.children) {
        Align4(out);
        if (!Emit(child, out, error)) return false;
    }
    const size_t length = out->size() - start;
    if (length > VERSION_MAX_BLOCK) {
        *error = "the version information's block \"" + ToUtf8(node.key) + "\" would be " +
                 std::to_string(length) + " bytes; a block holds at most " +
                 std::to_string((int)VERSION_MAX_BLOCK);
        return false;
    }
    Put16(out, start, (uint32_t)length);
    Put16(out, start + 2, node.valueLength);
    Put16(out, start + 4, node.type);
    return true;
}

Node Text(const std::u16string &key, const std::u16string &value) {
    Node node{key, TYPE_TEXT, (uint16_t)(value.size() + 1), {}, {}};
    PutUtf16(value, &node.value);
    return node;
}

void PutWord(PackBytes *out, uint32_t value) {
    for (int i = 0; i < 4; i++) out->push_back((uint8_t)(value >> (8 * i)));
}

PackBytes Fixed(const VersionInfo &info) {
    PackBytes fixed;
    auto versionWords = [&](const uint16_t *numbers) {
        PutWord(&fixed, (uint32_t)numbers[0] << 16 | numbers[1]);
        PutWord(&fixed, (uint32_t)numbers[2] << 16 | numbers[3]);
    };
    PutWord(&fixed, FIXED_SIGNATURE);
    PutWord(&fixed, 0x00010000); // the structure's version
    versionWords(info.fileVersion);
    versionWords(info.productVersion);
    for (uint32_t word :
         {(uint32_t)FIXED_FLAGS_MASK, 0u, (uint32_t)FIXED_OS, (uint32_t)FIXED_TYPE, 0u, 0u, 0u})
        PutWord(&fixed, word); // flags, OS, type, subtype, date
    return fixed;
}

// A block read from bytes: where its value and its children are.
typedef struct Block {
    size_t start, end; // end: start + its length
    uint32_t valueLength, type;
    std::u16string key;
    size_t valueAt;
} Block;

bool ReadBlock(const PackBytes &bytes, size_t start, size_t limit, Block *block) {
    if (start + BLOCK_HEADER > limit) return false;
    const size_t length = bytes[start] | bytes[start + 1] << 8;
    if (length < BLOCK_HEADER || start + length > limit) return false;
    *block = Block{start,
                   start + length,
                   (uint32_t)(bytes[start + 2] | bytes[start + 3] << 8),
                   (uint32_t)(bytes[start + 4] | bytes[start + 5] << 8),
                   {},
                   0};
    size_t at = start + BLOCK_HEADER;
    for (;; at += 2) {
        if (at + 2 > block->end) return false;
        char16_t unit = (char16_t)(bytes[at] | bytes[at + 1] << 8);
        if (!unit) break;
        block->key += unit;
    }
    block->valueAt = (at + 2 + 3) & ~(size_t)3;
    return block->valueAt <= block->end;
}

// The blocks inside parent, after its value of valueBytes bytes.
bool Children(const PackBytes &bytes, const Block &parent, size_t valueBytes,
              std::vector<Block> *children) {
    children->clear();
    size_t at = (parent.valueAt + valueBytes + 3) & ~(size_t)3;
    while (at < parent.end) {
        Block child;
        if (!ReadBlock(bytes, at, parent.end, &child)) return false;
        children->push_back(child);
        at = (child.end + 3) & ~(size_t)3;
    }
    return true;
}

// A text value: 16-bit units from its value up to a zero or the end of its block.
std::string TextValue(const PackBytes &bytes, const Block &block) {
    std::u16string text;
    for (size_t at = block.valueAt; at + 2 <= block.end; at += 2) {
        char16_t unit = (char16_t)(bytes[at] | bytes[at + 1] << 8);
        if (!unit) break;
        text += unit;
    }
    return ToUtf8(text);
}

bool ReadStrings(const PackBytes &bytes, const Block &fileInfo, VersionInfo *info) {
    std::vector<Block> tables, strings;
    if (!Children(bytes, fileInfo, 0, &tables)) return false;
    if (tables.empty()) return true;
    if (!Children(bytes, tables[0], 0, &strings)) return false;
    for (const Block &text : strings) {
        const std::string value = text.valueLength ? TextValue(bytes, text) : std::string();
        info->strings.emplace_back(ToUtf8(text.key), value);
    }
    return true;
}

uint32_t Word(const PackBytes &bytes, size_t at) {
    return (uint32_t)bytes[at] | (uint32_t)bytes[at + 1] << 8 | (uint32_t)bytes[at + 2] << 16 |
           (uint32_t)bytes[at + 3] << 24;
}

void ReadNumbers(const PackBytes &bytes, size_t at, uint16_t numbers[VERSION_PARTS]) {
    const uint32_t high = Word(bytes, at), low = Word(bytes, at + 4);
    numbers[0] = (uint16_t)(high >> 16);
    numbers[1] = (uint16_t)high;
    numbers[2] = (uint16_t)(low >> 16);
    numbers[3] = (uint16_t)low;
}

std::string Dotted(const uint16_t numbers[VERSION_PARTS]) {
    char text[32];
    snprintf(text, sizeof text, "%u.%u.%u.%u", numbers[0], numbers[1], numbers[2], numbers[3]);
    return text;
}

} // namespace

bool VersionRes_ParseNumbers(const std::string &text, uint16_t numbers[VERSION_PARTS], bool *found,
                             std::string *error) {
    auto digit = [&text](size_t at) {
        return at < text.size() && text[at] >= '0' && text[at] <= '9';
    };
    for (int i = 0; i < VERSION_PARTS; i++) numbers[i] = 0;
    *found = digit(0);
    const std::string hint = "PRODUCT VERSION \"" + text + "\": ";
    const std::string rule = "; a Windows file version is at most four numbers from 0 to " +
                             std::to_string((int)VERSION_MAX_PART) +
                             " (text may follow: \"1.3 beta\")";
    size_t at = 0;
    for (int count = 0; *found; count++) {
        if (count == VERSION_PARTS) {
            *error = hint + "a fifth number" + rule;
            return false;
        }
        const size_t first = at;
        uint32_t value = 0;
        for (; digit(at); at++) {
            value = value * 10 + (uint32_t)(text[at] - '0');
            if (value > VERSION_MAX_PART) {
                while (digit(at)) at++;
                *error = hint + text.substr(first, at - first) + " is too large" + rule;
                return false;
            }
        }
        numbers[count] = (uint16_t)value;
        if (at + 1 >= text.size() || text[at] != '.' || !digit(at + 1)) break;
        at++;
    }
    return true;
}

bool VersionRes_FromScript(const PackBytes &script, VersionInfo *info, PackNotes *notes,
                           std::string *error) {
    static_assert(KW_COMPANY_NAME == 0 && KW_PRODUCT_NAME == 1 && KW_PRODUCT_VERSION == 2,
                  "the three names open the keyword table");
    std::string names[KW_PRODUCT_VERSION + 1]; // indexed by the three names' ids
    Script_Walk(script, [&](const ScriptCommand &command) {
        if (command.id > KW_PRODUCT_VERSION || command.arguments.empty()) return true;
        const KeywordArg &rule = Keyword_Info(command.id)->Args[0];
        const std::string &argument = command.arguments[0];
        if (rule.Kind == ARG_REFUSE && argument.size() >= (size_t)rule.Size) return true;
        names[command.id] = argument.substr(0, (size_t)rule.Size - 1); // a cut text is cut here
        return true;
    });
    const std::string &company = names[KW_COMPANY_NAME], &product = names[KW_PRODUCT_NAME],
                      &version = names[KW_PRODUCT_VERSION];
    bool numbered = false;
    *info = VersionInfo{};
    if (!VersionRes_ParseNumbers(version, info->fileVersion, &numbered, error)) return false;
    for (int i = 0; i < VERSION_PARTS; i++) info->productVersion[i] = info->fileVersion[i];
    if (!version.empty() && !numbered)
        notes->push_back("PRODUCT VERSION \"" + version + "\" begins with no number: the " +
                         "setup's numeric file version is 0.0.0.0");
    std::string description;
    for (const std::string &part : {product, version})
        if (!part.empty()) description += part + " ";
    const std::pair<const char *, std::string> rows[] = {{"CompanyName", company},
                                                         {"FileDescription", description + "Setup"},
                                                         {"FileVersion", version},
                                                         {"ProductName", product},
                                                         {"ProductVersion", version}};
    for (const auto &row : rows)
        if (!row.second.empty()) info->strings.emplace_back(row.first, row.second);
    return true;
}

bool VersionRes_Encode(const VersionInfo &info, PackBytes *block, std::string *error) {
    Node table{u"040904B0", TYPE_TEXT, 0, {}, {}}; // the language and code page below, in hex
    for (const auto &row : info.strings) {
        std::u16string key, value;
        if (!ToUtf16(row.first, &key, error) || !ToUtf16(row.second, &value, error)) return false;
        table.children.push_back(Text(key, value));
    }
    Node strings{u"StringFileInfo", TYPE_TEXT, 0, {}, {table}};
    Node translation{u"Translation", TYPE_BINARY, 4, {}, {}};
    PutWord(&translation.value, (uint32_t)VERSION_CODE_PAGE << 16 | VERSION_LANGUAGE);
    Node variables{u"VarFileInfo", TYPE_TEXT, 0, {}, {translation}};
    Node root{u"VS_VERSION_INFO", TYPE_BINARY, FIXED_SIZE, Fixed(info), {strings, variables}};
    block->clear();
    return Emit(root, block, error);
}

bool VersionRes_Decode(const PackBytes &block, VersionInfo *info, std::string *error) {
    *info = VersionInfo{};
    Block root;
    std::vector<Block> children;
    if (!ReadBlock(block, 0, block.size(), &root) || root.key != u"VS_VERSION_INFO" ||
        root.valueLength < FIXED_SIZE || root.valueAt + FIXED_SIZE > root.end ||
        Word(block, root.valueAt) != FIXED_SIGNATURE ||
        !Children(block, root, root.valueLength, &children)) {
        *error = "the version information is damaged";
        return false;
    }
    ReadNumbers(block, root.valueAt + FIXED_FILE_AT, info->fileVersion);
    ReadNumbers(block, root.valueAt + FIXED_FILE_AT + 8, info->productVersion);
    for (const Block &child : children) {
        if (child.key != u"StringFileInfo") continue;
        if (!ReadStrings(block, child, info)) {
            *error = "the version information's string table is damaged";
            return false;
        }
        break;
    }
    return true;
}

bool VersionRes_Put(PackBytes *image, const PackBytes &block, std::string *error) {
    std::vector<PeResource> resources, kept;
    if (!PeRes_Read(*image, &resources, error)) return false;
    for (PeResource &resource : resources)
        if (resource.type.named || resource.type.id != PERES_TYPE_VERSION)
            kept.push_back(std::move(resource));
    PeResource version{};
    version.type.id = PERES_TYPE_VERSION;
    version.name.id = VERSION_RESOURCE_NAME;
    version.language.id = VERSION_LANGUAGE;
    version.data = block;
    kept.push_back(version);
    return PeRes_Write(image, kept, error);
}

int VersionRes_Read(const PackBytes &file, VersionInfo *info, std::string *error) {
    std::vector<PeResource> resources, versions;
    if (!PeRes_IsImage(file)) return 0;
    if (!PeRes_Read(file, &resources, error)) return -1;
    for (const PeResource &resource : resources)
        if (!resource.type.named && resource.type.id == PERES_TYPE_VERSION)
            versions.push_back(resource);
    if (versions.empty()) return 0;
    if (versions.size() > 1) {
        *error = std::to_string(versions.size()) + " version resources; a setup has one";
        return -1;
    }
    PackBytes block;
    if (!PeRes_Data(file, versions[0], &block, error)) return -1;
    return VersionRes_Decode(block, info, error) ? 1 : -1;
}

std::vector<std::string> VersionRes_Describe(const VersionInfo &info) {
    std::vector<std::string> lines{"file version " + Dotted(info.fileVersion) +
                                   ", product version " + Dotted(info.productVersion)};
    for (const auto &row : info.strings) lines.push_back(row.first + ": " + row.second);
    return lines;
}

bool VersionRes_AddToStub(PackBytes *stub, const std::vector<PackInput> &inputs, uint32_t flags,
                          std::string *error, PackNotes *notes) {
    if (!PeRes_IsImage(*stub)) return true;
    const PackBytes none;
    const PackBytes *script = &none;
    for (const PackInput &input : inputs)
        if (Ffs_HashNameFlags(input.name.c_str(), flags) == Ffs_HashNameFlags("install.dat", flags))
            script = &input.data;
    VersionInfo info;
    PackBytes block, image = *stub;
    std::string why;
    if (!VersionRes_FromScript(*script, &info, notes, error)) return false;
    if (!VersionRes_Encode(info, &block, error)) return false;
    if (!VersionRes_Put(&image, block, &why)) {
        *error = "cannot write the version information into the stub: " + why;
        return false;
    }
    stub->swap(image);
    return true;
}
