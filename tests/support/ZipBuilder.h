#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelmar::test {

inline void put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

inline void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put16(bytes, at, static_cast<std::uint16_t>(value));
    put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline constexpr std::uint32_t regularFile = 0100644u << 16;
inline constexpr std::uint32_t directory = 040755u << 16;

// One entry as it is written; every field a test may want to falsify can be set.
class ZipEntry {
public:
    // `data` is written after the local header unchanged, whatever the method says.
    explicit ZipEntry(std::string name, std::string data = "x")
        : name_(std::move(name))
        , data_(std::move(data)) {}

    ZipEntry& attributes(std::uint32_t externalAttributes) {
        attributes_ = externalAttributes;
        return *this;
    }
    ZipEntry& flags(std::uint16_t value) {
        flags_ = value;
        return *this;
    }
    ZipEntry& method(std::uint16_t value) {
        method_ = value;
        return *this;
    }
    ZipEntry& localName(std::string value) {
        localName_ = std::move(value);
        return *this;
    }
    ZipEntry& compressedSize(std::uint32_t value) {
        compressedSize_ = value;
        return *this;
    }
    ZipEntry& uncompressedSize(std::uint32_t value) {
        uncompressedSize_ = value;
        return *this;
    }
    ZipEntry& crc32(std::uint32_t value) {
        crc32_ = value;
        return *this;
    }
    // Extra fields, written unchanged after the name in the local header and the central record.
    ZipEntry& localExtra(std::string value) {
        localExtra_ = std::move(value);
        return *this;
    }
    ZipEntry& centralExtra(std::string value) {
        centralExtra_ = std::move(value);
        return *this;
    }
    // Where the central record says the local header is.
    ZipEntry& localOffset(std::uint32_t value) {
        localOffset_ = value;
        return *this;
    }

private:
    friend class ZipBuilder;
    std::string name_;
    std::string data_;
    std::uint32_t attributes_ = regularFile;
    std::uint16_t flags_ = 0;
    std::uint16_t method_ = 0;
    std::optional<std::string> localName_;
    std::optional<std::uint32_t> compressedSize_;
    std::optional<std::uint32_t> uncompressedSize_;
    std::optional<std::uint32_t> localOffset_;
    std::uint32_t crc32_ = 0;
    std::string localExtra_;
    std::string centralExtra_;
};

// Where build() put the records, for tests that patch single fields afterwards.
struct ZipLayout {
    std::vector<std::size_t> local;
    std::vector<std::size_t> central;
    std::size_t cdStart = 0;
    std::size_t cdSize = 0;
    std::size_t end = 0;
};

// Writes a plain ZIP archive field by field: local headers and data, the central directory, optional free
// space, the end record and its comment. CRCs are 0 unless set; extra fields are empty unless set.
class ZipBuilder {
public:
    ZipBuilder& add(ZipEntry entry) {
        entries_.push_back(std::move(entry));
        return *this;
    }
    ZipBuilder& file(std::string name, std::string data = "x") {
        return add(ZipEntry(std::move(name), std::move(data)));
    }
    ZipBuilder& dir(std::string name) { return add(ZipEntry(std::move(name), "").attributes(directory)); }
    ZipBuilder& comment(std::string text) {
        comment_ = std::move(text);
        return *this;
    }
    ZipBuilder& gapBeforeEnd(std::size_t bytes) {
        gap_ = bytes;
        return *this;
    }

    Bytes build(ZipLayout* layout = nullptr) const {
        Bytes out;
        ZipLayout where;
        for (const auto& entry : entries_) {
            where.local.push_back(out.size());
            const std::string& localName = entry.localName_.value_or(entry.name_);
            appendU32(out, 0x04034B50);
            appendU16(out, 20);           // version needed
            appendU16(out, entry.flags_); // general purpose flags
            appendU16(out, entry.method_);
            appendU32(out, 0x00210000); // time and date: 1980-01-01
            appendU32(out, entry.crc32_);
            appendU32(out, entry.compressedSize_.value_or(static_cast<std::uint32_t>(entry.data_.size())));
            appendU32(out, entry.uncompressedSize_.value_or(static_cast<std::uint32_t>(entry.data_.size())));
            appendU16(out, static_cast<std::uint16_t>(localName.size()));
            appendU16(out, static_cast<std::uint16_t>(entry.localExtra_.size()));
            append(out, localName);
            append(out, entry.localExtra_);
            append(out, entry.data_);
        }
        where.cdStart = out.size();
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const auto& entry = entries_[i];
            where.central.push_back(out.size());
            appendU32(out, 0x02014B50);
            appendU16(out, 0x031E); // made by: Unix, 3.0
            appendU16(out, 20);     // version needed
            appendU16(out, entry.flags_);
            appendU16(out, entry.method_);
            appendU32(out, 0x00210000);
            appendU32(out, entry.crc32_);
            appendU32(out, entry.compressedSize_.value_or(static_cast<std::uint32_t>(entry.data_.size())));
            appendU32(out, entry.uncompressedSize_.value_or(static_cast<std::uint32_t>(entry.data_.size())));
            appendU16(out, static_cast<std::uint16_t>(entry.name_.size()));
            appendU16(out, static_cast<std::uint16_t>(entry.centralExtra_.size()));
            appendU16(out, 0); // comment length
            appendU16(out, 0); // disk where the entry starts
            appendU16(out, 0); // internal attributes
            appendU32(out, entry.attributes_);
            appendU32(out, entry.localOffset_.value_or(static_cast<std::uint32_t>(where.local[i])));
            append(out, entry.name_);
            append(out, entry.centralExtra_);
        }
        where.cdSize = out.size() - where.cdStart;
        out.resize(out.size() + gap_, 0);
        where.end = out.size();
        appendU32(out, 0x06054B50);
        appendU16(out, 0); // this disk
        appendU16(out, 0); // disk of the central directory
        appendU16(out, static_cast<std::uint16_t>(entries_.size()));
        appendU16(out, static_cast<std::uint16_t>(entries_.size()));
        appendU32(out, static_cast<std::uint32_t>(where.cdSize));
        appendU32(out, static_cast<std::uint32_t>(where.cdStart));
        appendU16(out, static_cast<std::uint16_t>(comment_.size()));
        append(out, comment_);
        if (layout != nullptr) {
            *layout = where;
        }
        return out;
    }

private:
    static void appendU16(Bytes& out, std::uint16_t value) {
        out.push_back(static_cast<std::uint8_t>(value));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    static void appendU32(Bytes& out, std::uint32_t value) {
        appendU16(out, static_cast<std::uint16_t>(value));
        appendU16(out, static_cast<std::uint16_t>(value >> 16));
    }
    static void append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

    std::vector<ZipEntry> entries_;
    std::string comment_;
    std::size_t gap_ = 0;
};

} // namespace quelmar::test
