// The LZMA build's plan of solid groups and files stored once: which inputs equal an earlier one
// (same size, same content hash, then the same bytes), how the FILE LIST items are gathered into
// groups of consecutive items, and the groups' entry names. Archive writing (pack-archive)
// encodes the groups and writes the references; the script's FILE LIST gives the order.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "ffs-lzma.h"
#include "pack-input.h"
#include "pack-lzma.h"

enum {
    // A group's bytes are at most one dictionary, so that every member lies in the window.
    // It is also what the setup's read-ahead threads decode whole into memory.
    PACK_GROUP_LIMIT = PACK_LZMA_DICT_MAX,
};

// A solid group: the members' bytes back to back, one entry of its own.
typedef struct PackGroup {
    std::string name;              // "<group N>": never a file's name
    uint32_t hash;                 // the name's hash
    std::vector<size_t> members;   // indices of the inputs, in FILE LIST order
    std::vector<uint64_t> offsets; // each member's first byte in the group's bytes
    uint64_t size;                 // the members' sizes added up, at most PACK_GROUP_LIMIT
} PackGroup;

typedef struct PackPlan {
    std::vector<int32_t> copyOf;  // per input: the earlier input of the same bytes, or -1
    std::vector<int32_t> groupOf; // per input: the group it is a member of, or -1
    std::vector<PackGroup> groups;
} PackPlan;

// The name of the n-th group name candidate (n from 1): "<group n>".
std::string Pack_GroupName(int n);
// For each input, the first earlier input with the same bytes (-1 when none): sizes compared
// first, then a hash of the bytes of the inputs that share a size, then the bytes themselves.
// Every input read is read in pieces. False, with *error, when a file cannot be read.
bool Pack_FindCopies(const std::vector<PackInput> &inputs, std::vector<int32_t> *copyOf,
                     std::string *error);
// The groups of the FILE LIST items (listOrder >= 0) that are no copies, in list order:
// consecutive items gathered while the group's size stays at most PACK_GROUP_LIMIT; an item
// larger than that, or one that no neighbour joins, stays an entry of its own. Each group is
// named by the lowest "<group N>" above the previous group's whose hash under flags is no
// input's. Fills plan->groups and plan->groupOf; copyOf must be filled.
void Pack_GroupItems(const std::vector<PackInput> &inputs, uint32_t flags, PackPlan *plan);
// Both steps. False, with *error, when a file cannot be read.
bool Pack_PlanGroups(const std::vector<PackInput> &inputs, uint32_t flags, PackPlan *plan,
                     std::string *error);
// Sets the listOrder of every input that the compiled script's FILE LIST names (its items'
// archive names, compared as the setup asks for them under flags): from 0 in the order the
// items first appear. The script and the uninstaller stay entries of their own.
void Pack_SetListOrder(const std::vector<uint8_t> &script, uint32_t flags,
                       std::vector<PackInput> *inputs);
