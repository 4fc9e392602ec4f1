#pragma once

#include "core/Bytes.h"

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace quelmar {

// A file that is not a property list, XML or binary.
class PropertyListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text members of a property list's top-level dictionary; members of other types, and texts holding a NUL
// (which no C string carries whole), are left out.
struct InfoDictionary {
    std::map<std::string, std::string> text;

    std::optional<std::string> string(const std::string& key) const;
};

namespace PropertyList {

// None when the property list is not a dictionary. Throws PropertyListError when the bytes are no property list.
std::optional<InfoDictionary> parse(ByteView bytes);

// Reads and parses the file; read errors (std::system_error) and PropertyListError pass through.
std::optional<InfoDictionary> read(const std::filesystem::path& path);

} // namespace PropertyList
} // namespace quelmar
