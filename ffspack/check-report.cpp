// The findings of the builder's checks: counted by kind, and each as the user reads it.
#include "check-report.h"

size_t Check_Count(const CheckReport &report, CheckKind kind) {
    size_t count = 0;
    for (const CheckMessage &message : report) count += message.kind == kind;
    return count;
}

std::string Check_Format(const CheckMessage &message) {
    static const char *const PREFIXES[] = {"error: ", "warning: ", "note: "};
    return PREFIXES[message.kind] + message.text;
}
