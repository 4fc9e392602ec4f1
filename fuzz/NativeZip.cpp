// NativeZip's checks of an update archive: only UPSError, validate and entries agree, and every entry lies in the
// bundle's folder or the resource-fork folder.
#include "core/NativeZip.h"

#include "Fuzz.h"
#include "core/UPSError.h"

#include <optional>
#include <string>

using namespace quelmar;

namespace {

bool inside(const std::string& name, std::string_view folder) {
    return name.starts_with(folder) && (name.size() == folder.size() || name[folder.size()] == '/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto archive = fuzz::bytes(data, size);
    std::optional<std::string> validated;
    try {
        NativeZip::validate(archive);
    } catch (const UPSError& error) {
        validated = error.message();
    }
    std::optional<std::string> listed;
    try {
        for (const auto& entry : NativeZip::entries(archive)) {
            QUELMAR_FUZZ_CHECK(inside(entry.name, NativeZip::bundleDirectory) ||
                               inside(entry.name, NativeZip::resourceForkDirectory));
        }
    } catch (const UPSError& error) {
        listed = error.message();
    }
    QUELMAR_FUZZ_CHECK(validated == listed);
    return 0;
}
