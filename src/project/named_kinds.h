// Tables of the names a file may use, in any case, and what each stands for.
#pragma once
#include <strings.h>

#include <cstddef>
#include <cstring>
#include <string_view>

template <typename kind>
struct named_kind {
    const char *name;
    kind value;
};

inline bool same_name(std::string_view text, const char *name) {
    return text.size() == strlen(name) && strncasecmp(text.data(), name, text.size()) == 0;
}

template <typename kind, size_t count>
kind kind_named(const named_kind<kind> (&table)[count], std::string_view name, kind otherwise) {
    for (const named_kind<kind> &entry : table) {
        if (same_name(name, entry.name)) return entry.value;
    }
    return otherwise;
}
