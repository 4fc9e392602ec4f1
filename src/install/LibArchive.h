#pragma once

#include <memory>
#include <string>

#include <archive.h>
#include <archive_entry.h>

// Owners of libarchive's objects and its error text, for the unpacker here and the publisher's packer.
namespace quelmar::LibArchive {

struct ReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};
using Reader = std::unique_ptr<archive, ReadFree>;
using Writer = std::unique_ptr<archive, WriteFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;

// The last error's text, or fallback when libarchive gives none.
inline std::string errorText(archive* a, const char* fallback) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : fallback;
}

} // namespace quelmar::LibArchive
