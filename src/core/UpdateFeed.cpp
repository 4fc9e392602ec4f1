#include "core/UpdateFeed.h"

#include <limits>

namespace quelmar {

using nlohmann::json;

namespace {

// nlohmann converts floats and booleans to integers silently; the feed's integers must be integers.
std::int64_t integer(const json& value) {
    if (!value.is_number_integer()) {
        throw json::type_error::create(302, std::string("type must be integer, but is ") + value.type_name(), &value);
    }
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        throw json::out_of_range::create(406, "integer " + value.dump() + " does not fit a signed 64-bit integer",
                                         &value);
    }
    return value.get<std::int64_t>();
}

template <typename T>
T decode(const json& value) {
    if constexpr (std::is_same_v<T, std::int64_t>) {
        return integer(value);
    } else {
        return value.get<T>();
    }
}

template <typename T>
T required(const json& object, const char* key) {
    return decode<T>(object.at(key));
}

template <typename T>
std::optional<T> optional(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    return decode<T>(*it);
}

template <typename T>
void put(json& object, const char* key, const std::optional<T>& value) {
    if (value) {
        object[key] = *value;
    }
}

} // namespace

const json& jsonObject(const json& value) {
    if (!value.is_object()) {
        throw json::type_error::create(302, std::string("type must be object, but is ") + value.type_name(), &value);
    }
    return value;
}

std::string UpdatePackage::id() const {
    return kind + "-" + (platform ? *platform : model ? *model : std::string()) + "-" + version;
}

void from_json(const json& value, UpdateChunk& chunk) {
    const auto& o = jsonObject(value);
    chunk.url = required<std::string>(o, "url");
    chunk.size = required<std::int64_t>(o, "size");
    chunk.sha256 = required<std::string>(o, "sha256");
}

void from_json(const json& value, UpdatePackage& package) {
    const auto& o = jsonObject(value);
    package.kind = required<std::string>(o, "kind");
    package.platform = optional<std::string>(o, "platform");
    package.implementation = optional<std::string>(o, "implementation");
    package.model = optional<std::string>(o, "model");
    package.hardware = optional<std::vector<std::string>>(o, "hardware").value_or(std::vector<std::string>{});
    package.version = required<std::string>(o, "version");
    package.url = required<std::string>(o, "url");
    package.size = required<std::int64_t>(o, "size");
    package.sha256 = required<std::string>(o, "sha256");
    package.transport = optional<std::string>(o, "transport");
    package.chunks = optional<std::vector<UpdateChunk>>(o, "chunks");
    package.notes = optional<std::string>(o, "notes");
}

void from_json(const json& value, UpdateFeed& feed) {
    const auto& o = jsonObject(value);
    feed.schema = required<std::int64_t>(o, "schema");
    feed.packages = required<std::vector<UpdatePackage>>(o, "packages");
}

void to_json(json& value, const UpdateChunk& chunk) {
    value = json{{"url", chunk.url}, {"size", chunk.size}, {"sha256", chunk.sha256}};
}

void to_json(json& value, const UpdatePackage& package) {
    value = json::object();
    value["kind"] = package.kind;
    put(value, "platform", package.platform);
    put(value, "implementation", package.implementation);
    put(value, "model", package.model);
    if (!package.hardware.empty()) {
        value["hardware"] = package.hardware;
    }
    value["version"] = package.version;
    value["url"] = package.url;
    value["size"] = package.size;
    value["sha256"] = package.sha256;
    put(value, "transport", package.transport);
    put(value, "chunks", package.chunks);
    put(value, "notes", package.notes);
}

void to_json(json& value, const UpdateFeed& feed) {
    value = json{{"schema", feed.schema}, {"packages", feed.packages}};
}

} // namespace quelmar
