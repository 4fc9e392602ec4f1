#include "install/PropertyList.h"

#include "system/Files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include <plist/plist.h>

namespace quelmar {

namespace {

constexpr std::uint64_t maxSize = 1024 * 1024;
// libplist reads a binary property list's containers recursively, a stack frame per level, and each level is an
// object of its own: bounding the objects bounds the depth. 100,000 levels, which fit in 1 MiB, overflow an 8 MiB
// stack; an Info.plist holds a few dozen objects.
constexpr std::uint64_t maxBinaryObjects = 10000;

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

// The object count of a binary property list's trailer (its last 32 bytes), as libplist reads it.
bool tooManyObjects(ByteView bytes) {
    constexpr std::string_view magic = "bplist00";
    constexpr std::size_t trailerSize = 32;
    if (bytes.size() < magic.size() + trailerSize || !std::equal(magic.begin(), magic.end(), bytes.begin())) {
        return false;
    }
    std::uint64_t count = 0;
    for (std::size_t i = bytes.size() - 24; i < bytes.size() - 16; ++i) {
        count = count << 8 | bytes[i];
    }
    return count > maxBinaryObjects;
}

// Whether a key holds a NUL, which plist_get_key_val would assert on. libplist offers no key with its length, but
// its XML writer writes the whole key.
bool holdsNul(plist_t key) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(key, &xml, &length);
    const std::unique_ptr<char, decltype(&plist_to_xml_free)> owner(xml, &plist_to_xml_free);
    return xml == nullptr || std::memchr(xml, '\0', length) != nullptr;
}

} // namespace

std::optional<std::string> InfoDictionary::string(const std::string& key) const {
    const auto it = text.find(key);
    if (it == text.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<InfoDictionary> PropertyList::parse(ByteView bytes) {
    if (bytes.empty() || bytes.size() > maxSize || tooManyObjects(bytes)) {
        throw PropertyListError("the data is not a property list");
    }
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &root);
    if (root == nullptr) {
        throw PropertyListError("the data is not a property list");
    }
    const std::unique_ptr<void, PlistFree> owner(root);
    if (plist_get_node_type(root) != PLIST_DICT) {
        return std::nullopt;
    }
    InfoDictionary dictionary;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root, &iterator);
    const std::unique_ptr<void, decltype(&std::free)> iteratorOwner(iterator, &std::free);
    while (iterator != nullptr) {
        plist_t value = nullptr;
        plist_dict_next_item(root, iterator, nullptr, &value);
        if (value == nullptr) {
            break;
        }
        const plist_t keyNode = plist_dict_item_get_key(value);
        if (plist_get_node_type(value) != PLIST_STRING || keyNode == nullptr || holdsNul(keyNode)) {
            continue;
        }
        // Both with their length: libplist's C-string getters assert (and so abort) on a NUL.
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(value, &length);
        char* key = nullptr;
        plist_get_key_val(keyNode, &key);
        const std::unique_ptr<char, decltype(&std::free)> keyOwner(key, &std::free);
        if (text != nullptr && key != nullptr && std::memchr(text, '\0', length) == nullptr) {
            dictionary.text.emplace(key, std::string(text, length));
        }
    }
    return dictionary;
}

std::optional<InfoDictionary> PropertyList::read(const std::filesystem::path& path) {
    const auto bytes = Files::readUpTo(path, maxSize);
    if (!bytes) {
        throw PropertyListError(path.string() + ": the file is too large for a property list");
    }
    try {
        return parse(*bytes);
    } catch (const PropertyListError&) {
        throw PropertyListError(path.string() + ": the data is not a property list");
    }
}

} // namespace quelmar
