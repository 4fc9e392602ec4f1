#pragma once

#include <memory>
#include <string>

#include <archive.h>
#include <archive_entry.h>

// libarchive for the unpacker here and the publisher's packer: the functions the unpacker calls, owners of
// libarchive's objects, and its error text. The client loads the library only when it unpacks an update, so that the
// command-line modes and the headless monitor do not load it and the compression libraries it brings.
namespace quelmar::LibArchive {

// The functions of the unpacker, under their names without "archive_".
struct Library {
    decltype(&::archive_read_new) read_new;
    decltype(&::archive_read_free) read_free;
    decltype(&::archive_read_support_format_zip_seekable) read_support_format_zip_seekable;
    decltype(&::archive_read_open_memory) read_open_memory;
    decltype(&::archive_read_next_header) read_next_header;
    decltype(&::archive_read_data_block) read_data_block;
    decltype(&::archive_write_disk_new) write_disk_new;
    decltype(&::archive_write_disk_set_options) write_disk_set_options;
    decltype(&::archive_write_header) write_header;
    decltype(&::archive_write_data_block) write_data_block;
    decltype(&::archive_write_finish_entry) write_finish_entry;
    decltype(&::archive_write_close) write_close;
    decltype(&::archive_write_free) write_free;
    decltype(&::archive_error_string) error_string;
    decltype(&::archive_entry_free) entry_free;
    decltype(&::archive_entry_pathname) entry_pathname;
    decltype(&::archive_entry_copy_pathname) entry_copy_pathname;
    decltype(&::archive_entry_filetype) entry_filetype;
    decltype(&::archive_entry_hardlink) entry_hardlink;
    decltype(&::archive_entry_symlink) entry_symlink;
    decltype(&::archive_entry_is_encrypted) entry_is_encrypted;
    decltype(&::archive_entry_size_is_set) entry_size_is_set;
    decltype(&::archive_entry_size) entry_size;
    decltype(&::archive_entry_set_size) entry_set_size;
    decltype(&::archive_entry_perm) entry_perm;
    decltype(&::archive_entry_set_perm) entry_set_perm;
};

// Loads libarchive.so.13 on first use. Throws std::runtime_error when it cannot be loaded (the next call tries again).
const Library& library();

struct ReadFree {
    void operator()(archive* a) const { library().read_free(a); }
};
struct WriteFree {
    void operator()(archive* a) const { library().write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { library().entry_free(e); }
};
using Reader = std::unique_ptr<archive, ReadFree>;
using Writer = std::unique_ptr<archive, WriteFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;

// The last error's text, or fallback when libarchive gives none.
inline std::string errorText(archive* a, const char* fallback) {
    const char* text = library().error_string(a);
    return text != nullptr ? text : fallback;
}

} // namespace quelmar::LibArchive
