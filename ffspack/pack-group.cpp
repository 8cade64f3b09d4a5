// The grouping plan: equal files found by size, content hash and bytes; FILE LIST items
// gathered greedily into groups of at most one dictionary; group names that clash with no
// entry; the list order read from the compiled script.
#include "pack-group.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "ffs.h"
#include "filelist.h"
#include "keywords.h"
#include "pack-input.h"
#include "script-source.h"
#include "uninst.h"

// The name's hash as the archive stores it under flags (Pack_HashName).
static uint32_t HashName(const std::string &name, uint32_t flags) {
    return Ffs_HashNameFlags(name.c_str(), flags);
}

std::string Pack_GroupName(int n) { return "<group " + std::to_string(n) + ">"; }

namespace {

enum { PIECE = 65536 };

// FNV-1a over the input's bytes, read in pieces. False, with *error, when it cannot be read.
bool HashContent(const PackInput &input, uint64_t *hash, std::string *error) {
    const PackContent content = Pack_ContentOf(input);
    PackReader reader;
    if (!Pack_OpenReader(content, &reader, error)) return false;
    std::vector<uint8_t> piece(PIECE);
    uint64_t h = 14695981039346656037ull;
    for (uint64_t at = 0; at < content.size;) {
        int32_t n = (int32_t)std::min<uint64_t>(content.size - at, PIECE);
        if (!Pack_Read(&reader, piece.data(), n)) break;
        for (int32_t i = 0; i < n; i++) h = (h ^ piece[(size_t)i]) * 1099511628211ull;
        at += (uint64_t)n;
    }
    *hash = h;
    return Pack_CloseReader(&reader, error);
}

// 1 when the two inputs (of one size) hold the same bytes, 0 when not, -1 with *error when one
// cannot be read.
int SameBytes(const PackInput &a, const PackInput &b, std::string *error) {
    const PackContent first = Pack_ContentOf(a), second = Pack_ContentOf(b);
    PackReader x, y;
    if (!Pack_OpenReader(first, &x, error)) return -1;
    if (!Pack_OpenReader(second, &y, error)) {
        std::string ignored;
        Pack_CloseReader(&x, &ignored);
        return -1;
    }
    std::vector<uint8_t> one(PIECE), two(PIECE);
    bool same = true, read = true;
    for (uint64_t at = 0; same && read && at < first.size;) {
        int32_t n = (int32_t)std::min<uint64_t>(first.size - at, PIECE);
        read = Pack_Read(&x, one.data(), n) && Pack_Read(&y, two.data(), n);
        same = read && memcmp(one.data(), two.data(), (size_t)n) == 0;
        at += (uint64_t)n;
    }
    // A difference stops the reading before the ends, which are then not checked.
    bool closed = Pack_CloseReader(&x, error);
    closed = Pack_CloseReader(&y, error) && closed;
    return !read || !closed ? -1 : same;
}

} // namespace

bool Pack_FindCopies(const std::vector<PackInput> &inputs, std::vector<int32_t> *copyOf,
                     std::string *error) {
    copyOf->assign(inputs.size(), -1);
    std::map<uint64_t, std::vector<size_t>> bySize;
    for (size_t i = 0; i < inputs.size(); i++) bySize[Pack_InputSize(inputs[i])].push_back(i);
    for (const auto &sized : bySize) {
        const std::vector<size_t> &same = sized.second;
        if (same.size() < 2) continue;
        std::vector<uint64_t> hashes(same.size());
        for (size_t k = 0; k < same.size(); k++)
            if (!HashContent(inputs[same[k]], &hashes[k], error)) return false;
        for (size_t k = 1; k < same.size(); k++) {
            for (size_t j = 0; j < k && (*copyOf)[same[k]] < 0; j++) {
                if (hashes[j] != hashes[k] || (*copyOf)[same[j]] >= 0) continue;
                int equal = SameBytes(inputs[same[j]], inputs[same[k]], error);
                if (equal < 0) return false;
                if (equal) (*copyOf)[same[k]] = (int32_t)same[j];
            }
        }
    }
    return true;
}

namespace {

// Closes the group being gathered: a group of two or more members is kept, named; one of a
// single member is an ordinary entry.
void CloseGroup(PackGroup *group, const std::set<uint32_t> &taken, uint32_t flags, int *lastN,
                PackPlan *plan) {
    if (group->members.size() >= 2) {
        int n = *lastN + 1;
        while (taken.count(HashName(Pack_GroupName(n), flags))) n++;
        *lastN = n;
        group->name = Pack_GroupName(n);
        group->hash = HashName(group->name, flags);
        for (size_t member : group->members) plan->groupOf[member] = (int32_t)plan->groups.size();
        plan->groups.push_back(*group);
    }
    *group = PackGroup{};
}

} // namespace

void Pack_GroupItems(const std::vector<PackInput> &inputs, uint32_t flags, PackPlan *plan) {
    plan->groups.clear();
    plan->groupOf.assign(inputs.size(), -1);
    std::vector<size_t> items;
    std::set<uint32_t> taken;
    for (size_t i = 0; i < inputs.size(); i++) {
        taken.insert(HashName(inputs[i].name, flags));
        if (inputs[i].listOrder >= 0 && plan->copyOf[i] < 0) items.push_back(i);
    }
    std::stable_sort(items.begin(), items.end(), [&inputs](size_t a, size_t b) {
        return inputs[a].listOrder < inputs[b].listOrder;
    });
    PackGroup group{};
    int lastN = 0;
    for (size_t i : items) {
        const uint64_t size = Pack_InputSize(inputs[i]);
        if (group.size + size > PACK_GROUP_LIMIT) CloseGroup(&group, taken, flags, &lastN, plan);
        if (size > PACK_GROUP_LIMIT) continue; // alone
        group.members.push_back(i);
        group.offsets.push_back(group.size);
        group.size += size;
    }
    CloseGroup(&group, taken, flags, &lastN, plan);
}

bool Pack_PlanGroups(const std::vector<PackInput> &inputs, uint32_t flags, PackPlan *plan,
                     std::string *error) {
    if (!Pack_FindCopies(inputs, &plan->copyOf, error)) return false;
    Pack_GroupItems(inputs, flags, plan);
    return true;
}

void Pack_SetListOrder(const std::vector<uint8_t> &script, uint32_t flags,
                       std::vector<PackInput> *inputs) {
    std::map<uint32_t, int32_t> order; // an item's hash: its first place
    Script_Walk(script, [&](const ScriptCommand &command) {
        if (command.id != KW_FILE_LIST || command.arguments.empty()) return true;
        const std::string &list = command.arguments[0];
        for (int32_t cursor = 0; cursor < (int32_t)list.size();) {
            char item[INSTALL_ITEM_SIZE];
            int32_t before = cursor;
            // An item too long for the setup is refused by the checks; here it is skipped.
            int32_t end = (int32_t)std::min(list.find(',', (size_t)cursor), list.size());
            if (end - cursor >= INSTALL_ITEM_SIZE) {
                cursor = end + 1;
                continue;
            }
            if (!FileList_NextItem(list.c_str(), &cursor, item, sizeof item) || cursor == before)
                break;
            const uint32_t hash = HashName(FileList_ArchiveName(item), flags);
            order.emplace(hash, (int32_t)order.size());
        }
        return true;
    });
    const uint32_t scriptHash = HashName("install.dat", flags);
    const uint32_t uninstaller = HashName(UNINST_ENTRY, flags);
    for (PackInput &input : *inputs) {
        const uint32_t hash = HashName(input.name, flags);
        auto found = order.find(hash);
        bool own = hash == scriptHash || hash == uninstaller;
        input.listOrder = found != order.end() && !own ? found->second : -1;
    }
}
