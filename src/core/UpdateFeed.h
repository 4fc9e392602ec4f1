#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// One piece of a "raw-chunks" package.
struct UpdateChunk {
    std::string url;
    std::int64_t size = 0;
    std::string sha256;

    bool operator==(const UpdateChunk&) const = default;
};

// One entry of the feed: a client package ("monitor") or a board firmware image ("firmware").
struct UpdatePackage {
    std::string kind;
    std::optional<std::string> platform;
    std::optional<std::string> implementation;
    std::optional<std::string> model;
    std::vector<std::string> hardware; // absent in the feed: empty
    std::string version;
    std::string url;
    std::int64_t size = 0;
    std::string sha256;
    std::optional<std::string> transport; // absent: one plain download; else one of the two below
    std::optional<std::vector<UpdateChunk>> chunks;
    std::optional<std::string> notes;

    // Pieces listed in chunks, each fetched on its own.
    static constexpr std::string_view rawChunks = "raw-chunks";
    // A JSON reply whose "content" holds the package in Base64.
    static constexpr std::string_view korvanContents = "korvan-contents";

    // kind-(platform, else model, else nothing)-version, e.g. "monitor-linux-1.4.0".
    std::string id() const;

    bool operator==(const UpdatePackage&) const = default;
};

struct UpdateFeed {
    std::int64_t schema = 0;
    std::vector<UpdatePackage> packages;

    bool operator==(const UpdateFeed&) const = default;
};

// value when it is a JSON object; otherwise the decoder's own type_error, as get<T>() of a record throws it.
const nlohmann::json& jsonObject(const nlohmann::json& value);

// Member-by-member with strict JSON types: a wrong type or a missing required member throws the
// decoder's own error (nlohmann::json::exception). Integers must be JSON integers that fit 64 bits.
// An optional member that is null counts as absent; unknown members are ignored.
void from_json(const nlohmann::json& json, UpdateChunk& chunk);
void from_json(const nlohmann::json& json, UpdatePackage& package);
void from_json(const nlohmann::json& json, UpdateFeed& feed);

// The same keys; absent optional members (and an empty hardware list) are left out.
void to_json(nlohmann::json& json, const UpdateChunk& chunk);
void to_json(nlohmann::json& json, const UpdatePackage& package);
void to_json(nlohmann::json& json, const UpdateFeed& feed);

} // namespace quelmar
