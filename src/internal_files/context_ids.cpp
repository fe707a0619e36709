// /#IVB: the context IDs of [MAP] with the files that [ALIAS] gives them,
// for help called up from an application.
#include "internal_files/file_builders.h"

byte_vector build_context_ids(const std::vector<context_id> &context_ids, string_pool &strings) {
    byte_vector out;
    append_le32(out, static_cast<uint32_t>(8 * context_ids.size()));
    for (const context_id &id : context_ids) {
        append_le32(out, id.id);
        append_le32(out, strings.add(id.file));
    }
    return out;
}
