#include "install/LibArchive.h"

#include "system/SharedLibrary.h"

namespace quelmar::LibArchive {

const Library& library() {
    static const Library loaded = [] {
        const SharedLibrary archive("libarchive.so.13");
        Library l{};
        l.read_new = archive.function<decltype(l.read_new)>("archive_read_new");
        l.read_free = archive.function<decltype(l.read_free)>("archive_read_free");
        l.read_support_format_zip_seekable =
            archive.function<decltype(l.read_support_format_zip_seekable)>("archive_read_support_format_zip_seekable");
        l.read_open_memory = archive.function<decltype(l.read_open_memory)>("archive_read_open_memory");
        l.read_next_header = archive.function<decltype(l.read_next_header)>("archive_read_next_header");
        l.read_data_block = archive.function<decltype(l.read_data_block)>("archive_read_data_block");
        l.write_disk_new = archive.function<decltype(l.write_disk_new)>("archive_write_disk_new");
        l.write_disk_set_options =
            archive.function<decltype(l.write_disk_set_options)>("archive_write_disk_set_options");
        l.write_header = archive.function<decltype(l.write_header)>("archive_write_header");
        l.write_data_block = archive.function<decltype(l.write_data_block)>("archive_write_data_block");
        l.write_finish_entry = archive.function<decltype(l.write_finish_entry)>("archive_write_finish_entry");
        l.write_close = archive.function<decltype(l.write_close)>("archive_write_close");
        l.write_free = archive.function<decltype(l.write_free)>("archive_write_free");
        l.error_string = archive.function<decltype(l.error_string)>("archive_error_string");
        l.entry_free = archive.function<decltype(l.entry_free)>("archive_entry_free");
        l.entry_pathname = archive.function<decltype(l.entry_pathname)>("archive_entry_pathname");
        l.entry_copy_pathname = archive.function<decltype(l.entry_copy_pathname)>("archive_entry_copy_pathname");
        l.entry_filetype = archive.function<decltype(l.entry_filetype)>("archive_entry_filetype");
        l.entry_hardlink = archive.function<decltype(l.entry_hardlink)>("archive_entry_hardlink");
        l.entry_symlink = archive.function<decltype(l.entry_symlink)>("archive_entry_symlink");
        l.entry_is_encrypted = archive.function<decltype(l.entry_is_encrypted)>("archive_entry_is_encrypted");
        l.entry_size_is_set = archive.function<decltype(l.entry_size_is_set)>("archive_entry_size_is_set");
        l.entry_size = archive.function<decltype(l.entry_size)>("archive_entry_size");
        l.entry_set_size = archive.function<decltype(l.entry_set_size)>("archive_entry_set_size");
        l.entry_perm = archive.function<decltype(l.entry_perm)>("archive_entry_perm");
        l.entry_set_perm = archive.function<decltype(l.entry_set_perm)>("archive_entry_set_perm");
        return l;
    }();
    return loaded;
}

} // namespace quelmar::LibArchive
