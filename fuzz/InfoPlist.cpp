// An update bundle's Info.plist through the project's wrapper of libplist and the identity rules staging applies
// before the seal: only PropertyListError and UPSError.
#include "Fuzz.h"
#include "core/UPSError.h"
#include "install/NativeInstaller.h"
#include "install/PropertyList.h"

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        NativeInstaller::checkIdentity(PropertyList::parse(fuzz::bytes(data, size)), "2.1.0");
    } catch (const PropertyListError&) {
    } catch (const UPSError&) {
    }
    return 0;
}
