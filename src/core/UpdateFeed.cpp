#include "core/UpdateFeed.h"

#include <array>
#include <limits>
#include <utility>

namespace quelmar {

using nlohmann::json;

namespace {

const json& object(const json& value) {
    if (!value.is_object()) {
        throw json::type_error::create(302, std::string("type must be object, but is ") + value.type_name(), &value);
    }
    return value;
}

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

namespace {

enum class Where { start, feed, packages, package, hardware, chunks, chunk, done };
enum class Field {
    none,
    unknown,
    schema,
    packages,
    kind,
    platform,
    implementation,
    model,
    hardware,
    version,
    url,
    size,
    sha256,
    transport,
    chunks,
    notes,
    chunkURL,
    chunkSize,
    chunkSHA256,
};

constexpr unsigned bit(Field field) {
    return 1u << static_cast<unsigned>(field);
}
constexpr unsigned feedRequired = bit(Field::schema) | bit(Field::packages);
constexpr unsigned packageRequired =
    bit(Field::kind) | bit(Field::version) | bit(Field::url) | bit(Field::size) | bit(Field::sha256);
constexpr unsigned chunkRequired = bit(Field::chunkURL) | bit(Field::chunkSize) | bit(Field::chunkSHA256);

// Builds the records while the text is read, without the document in between: the JSON library's
// document costs more than the reading itself. It accepts only the plain case (the members once each,
// with their types, no null); anything else is left to the document path, whose answer, value or
// error, is the decoder's.
class FeedReader final : public nlohmann::json_sax<json> {
public:
    bool read(ByteView text) { return json::sax_parse(text.begin(), text.end(), this) && where_ == Where::done; }
    UpdateFeed feed;

private:
    // 0 in the feed object, 1 in a package, 2 in a chunk; the arrays between belong to the outer object.
    std::size_t level() const {
        switch (where_) {
        case Where::package:
        case Where::hardware:
        case Where::chunks:
            return 1;
        case Where::chunk:
            return 2;
        default:
            return 0;
        }
    }

    UpdatePackage& package() { return feed.packages.back(); }
    UpdateChunk& chunk() { return package().chunks->back(); }

    // A value of a member that is ignored, or of an unknown member: skipped whatever it holds.
    bool ignored() {
        if (skipping_ > 0) {
            return true;
        }
        if (field_ == Field::unknown) {
            field_ = Field::none;
            return true;
        }
        return false;
    }

    bool integer(std::int64_t value) {
        if (ignored()) {
            return true;
        }
        const auto field = std::exchange(field_, Field::none);
        if (where_ == Where::feed && field == Field::schema) {
            feed.schema = value;
        } else if (where_ == Where::package && field == Field::size) {
            package().size = value;
        } else if (where_ == Where::chunk && field == Field::chunkSize) {
            chunk().size = value;
        } else {
            return false;
        }
        return true;
    }

public:
    bool null() override { return ignored(); }
    bool boolean(bool) override { return ignored(); }
    bool number_float(number_float_t, const string_t&) override { return ignored(); }
    bool binary(binary_t&) override { return false; }
    bool number_integer(number_integer_t value) override { return integer(value); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return ignored();
        }
        return integer(static_cast<std::int64_t>(value));
    }

    bool string(string_t& value) override {
        if (ignored()) {
            return true;
        }
        if (where_ == Where::hardware) {
            package().hardware.push_back(std::move(value));
            return true;
        }
        const auto field = std::exchange(field_, Field::none);
        if (where_ == Where::package) {
            auto& p = package();
            switch (field) {
            case Field::kind:
                p.kind = std::move(value);
                return true;
            case Field::platform:
                p.platform = std::move(value);
                return true;
            case Field::implementation:
                p.implementation = std::move(value);
                return true;
            case Field::model:
                p.model = std::move(value);
                return true;
            case Field::version:
                p.version = std::move(value);
                return true;
            case Field::url:
                p.url = std::move(value);
                return true;
            case Field::sha256:
                p.sha256 = std::move(value);
                return true;
            case Field::transport:
                p.transport = std::move(value);
                return true;
            case Field::notes:
                p.notes = std::move(value);
                return true;
            default:
                return false;
            }
        }
        if (where_ == Where::chunk) {
            if (field == Field::chunkURL) {
                chunk().url = std::move(value);
                return true;
            }
            if (field == Field::chunkSHA256) {
                chunk().sha256 = std::move(value);
                return true;
            }
        }
        return false;
    }

    bool key(string_t& name) override {
        if (skipping_ > 0) {
            return true;
        }
        Field field = Field::unknown;
        if (where_ == Where::feed) {
            field = name == "schema" ? Field::schema : name == "packages" ? Field::packages : Field::unknown;
        } else if (where_ == Where::package) {
            static const std::pair<const char*, Field> fields[] = {{"kind", Field::kind},
                                                                   {"platform", Field::platform},
                                                                   {"implementation", Field::implementation},
                                                                   {"model", Field::model},
                                                                   {"hardware", Field::hardware},
                                                                   {"version", Field::version},
                                                                   {"url", Field::url},
                                                                   {"size", Field::size},
                                                                   {"sha256", Field::sha256},
                                                                   {"transport", Field::transport},
                                                                   {"chunks", Field::chunks},
                                                                   {"notes", Field::notes}};
            for (const auto& [text, candidate] : fields) {
                if (name == text) {
                    field = candidate;
                    break;
                }
            }
        } else if (where_ == Where::chunk) {
            field = name == "url"      ? Field::chunkURL
                    : name == "size"   ? Field::chunkSize
                    : name == "sha256" ? Field::chunkSHA256
                                       : Field::unknown;
        }
        if (field != Field::unknown) {
            auto& seen = seen_[level()];
            if (seen & bit(field)) {
                return false; // a repeated member: the document path decides which one counts
            }
            seen |= bit(field);
        }
        field_ = field;
        return true;
    }

    bool start_object(std::size_t) override {
        if (skipping_ > 0 || field_ == Field::unknown) {
            ++skipping_;
            field_ = Field::none;
            return true;
        }
        if (where_ == Where::start) {
            where_ = Where::feed;
        } else if (where_ == Where::packages) {
            feed.packages.emplace_back();
            where_ = Where::package;
        } else if (where_ == Where::chunks) {
            package().chunks->emplace_back();
            where_ = Where::chunk;
        } else {
            return false;
        }
        seen_[level()] = 0;
        return true;
    }

    bool end_object() override {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        const unsigned seen = seen_[level()];
        const auto has = [seen](unsigned required) { return (seen & required) == required; };
        switch (where_) {
        case Where::feed:
            where_ = Where::done;
            return has(feedRequired);
        case Where::package:
            where_ = Where::packages;
            return has(packageRequired);
        case Where::chunk:
            where_ = Where::chunks;
            return has(chunkRequired);
        default:
            return false;
        }
    }

    bool start_array(std::size_t) override {
        if (skipping_ > 0 || field_ == Field::unknown) {
            ++skipping_;
            field_ = Field::none;
            return true;
        }
        const auto field = std::exchange(field_, Field::none);
        if (where_ == Where::feed && field == Field::packages) {
            where_ = Where::packages;
        } else if (where_ == Where::package && field == Field::hardware) {
            where_ = Where::hardware;
        } else if (where_ == Where::package && field == Field::chunks) {
            package().chunks.emplace();
            where_ = Where::chunks;
        } else {
            return false;
        }
        return true;
    }

    bool end_array() override {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        if (where_ == Where::packages) {
            where_ = Where::feed;
        } else if (where_ == Where::hardware || where_ == Where::chunks) {
            where_ = Where::package;
        } else {
            return false;
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    Where where_ = Where::start;
    Field field_ = Field::none;      // the member whose value comes next
    int skipping_ = 0;               // depth inside an ignored value
    std::array<unsigned, 3> seen_{}; // members so far of the feed, the package and the chunk being read
};

} // namespace

UpdateFeed decodeFeed(ByteView text) {
    FeedReader reader;
    if (reader.read(text)) {
        return std::move(reader.feed);
    }
    return json::parse(text.begin(), text.end()).get<UpdateFeed>();
}

std::string UpdatePackage::id() const {
    return kind + "-" + (platform ? *platform : model ? *model : std::string()) + "-" + version;
}

void from_json(const json& value, UpdateChunk& chunk) {
    const auto& o = object(value);
    chunk.url = required<std::string>(o, "url");
    chunk.size = required<std::int64_t>(o, "size");
    chunk.sha256 = required<std::string>(o, "sha256");
}

void from_json(const json& value, UpdatePackage& package) {
    const auto& o = object(value);
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
    const auto& o = object(value);
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
