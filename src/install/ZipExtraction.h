#pragma once

#include "core/Bytes.h"
#include "core/NativeZip.h"

#include <filesystem>
#include <vector>

namespace quelmar::ZipExtraction {

// Unpacks an archive that NativeZip::entries accepted, with the records it returned, into the existing,
// empty destination directory, keeping permission bits but never setuid, setgid or sticky bits. Every entry the
// unpacker reads must be one of the records, with the same name bytes, type and size; links are never followed
// or made and nothing is overwritten. Entries under "__MACOSX/" are checked but not written.
// Throws UPSError: the validator's message for an entry that does not match, otherwise the "libarchive" tool's
// failure form, warnings included.
void extract(ByteView archive, const std::vector<NativeZip::Entry>& entries, const std::filesystem::path& destination);

} // namespace quelmar::ZipExtraction
