#include "core/BundleSeal.h"

#include "core/Hex.h"
#include "core/Sodium.h"
#include "core/ToolFailure.h"
#include "core/UTF8.h"

#include <algorithm>
#include <charconv>

#include <sodium.h>
#include <utf8proc.h>

namespace quelmar::BundleSeal {
namespace {

constexpr std::string_view header = "quelmar-seal 1\n";
constexpr std::string_view signaturePrefix = "signature ";
constexpr std::size_t signatureSize = 64;
constexpr std::size_t publicKeySize = 32;

[[noreturn]] void fail(const std::string& reason) {
    throw toolFailure(toolName, reason);
}

// Relative, no empty, "." or ".." piece, no control character; so a sealed path names one place inside the
// bundle and one manifest line.
bool isSealablePath(std::string_view path) {
    if (path.empty() || path == manifestPath || !isValidUTF8(path)) {
        return false;
    }
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            return false;
        }
    }
    std::size_t begin = 0;
    while (true) {
        const auto slash = path.find('/', begin);
        const auto piece = path.substr(begin, slash == std::string_view::npos ? std::string_view::npos : slash - begin);
        if (piece.empty() || piece == "." || piece == "..") {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        begin = slash + 1;
    }
}

// Lower-case digits only, exactly out.size() bytes: one spelling per manifest.
bool lowerHex(std::string_view text, std::span<std::uint8_t> out) {
    const auto bytes = fromHex(text);
    if (!bytes || bytes->size() != out.size() || toHex(*bytes) != text) {
        return false;
    }
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return true;
}

std::string octalMode(std::uint32_t mode) {
    std::string out = "0000";
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>('0' + (mode & 7));
        mode >>= 3;
    }
    return out;
}

// The next space-separated field of a line; the last field (the path) is the rest of the line.
bool takeField(std::string_view& line, std::string_view& field) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    field = line.substr(0, space);
    line.remove_prefix(space + 1);
    return true;
}

bool parseMode(std::string_view text, std::uint32_t& mode) {
    if (text.size() != 4 || text[0] != '0') {
        return false;
    }
    mode = 0;
    for (const char c : text) {
        if (c < '0' || c > '7') {
            return false;
        }
        mode = mode << 3 | static_cast<std::uint32_t>(c - '0');
    }
    return true;
}

bool parseSize(std::string_view text, std::uint64_t& size) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    return error == std::errc() && end == text.data() + text.size();
}

[[noreturn]] void malformed(std::size_t line) {
    fail("the manifest is malformed at line " + std::to_string(line));
}

std::string describe(const Item& item) {
    return (item.directory ? "directory " : "file ") + item.path;
}

} // namespace

std::string body(std::vector<Item> items) {
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.path < b.path; });
    std::string out(header);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        if (!isSealablePath(item.path)) {
            fail("a path the seal cannot hold: " + item.path);
        }
        if (i > 0 && items[i - 1].path == item.path) {
            fail("a path listed twice: " + item.path);
        }
        if (item.directory) {
            out += "d " + item.path + '\n';
            continue;
        }
        if ((item.mode & ~0777u) != 0) {
            fail("setuid, setgid or sticky bits, which installing removes: " + item.path);
        }
        out += "f " + octalMode(item.mode) + ' ' + std::to_string(item.size) + ' ' + toHex(item.sha256) + ' ' +
               item.path + '\n';
    }
    return out;
}

std::string manifest(std::string_view body, ByteView signature) {
    std::string out(body);
    out += signaturePrefix;
    out += toHex(signature);
    out += '\n';
    return out;
}

std::vector<Item> open(ByteView manifest, ByteView publicKey) {
    requireSodium();
    const std::string_view text(reinterpret_cast<const char*>(manifest.data()), manifest.size());
    // The signature line is the last line; it starts right after a line feed.
    const auto signatureLine = text.rfind(std::string(1, '\n') + std::string(signaturePrefix));
    if (publicKey.size() != publicKeySize || signatureLine == std::string_view::npos || !text.ends_with('\n')) {
        fail("the seal has no signature");
    }
    const auto signedPart = text.substr(0, signatureLine + 1);
    const auto signatureHex = text.substr(signatureLine + 1 + signaturePrefix.size());
    std::array<std::uint8_t, signatureSize> signature{};
    if (!lowerHex(signatureHex.substr(0, signatureHex.size() - 1), signature)) {
        fail("the seal has no signature");
    }
    if (crypto_sign_verify_detached(signature.data(), reinterpret_cast<const unsigned char*>(signedPart.data()),
                                    signedPart.size(), publicKey.data()) != 0) {
        fail("the signature does not match the publisher key this client trusts");
    }

    if (!signedPart.starts_with(header)) {
        malformed(1);
    }
    std::vector<Item> items;
    std::string_view rest = signedPart.substr(header.size());
    std::size_t lineNumber = 1;
    while (!rest.empty()) {
        ++lineNumber;
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        Item item;
        std::string_view kind;
        if (!takeField(line, kind)) {
            malformed(lineNumber);
        }
        if (kind == "d") {
            item.directory = true;
        } else if (kind == "f") {
            std::string_view mode, size, digest;
            if (!takeField(line, mode) || !takeField(line, size) || !takeField(line, digest) ||
                !parseMode(mode, item.mode) || !parseSize(size, item.size) || !lowerHex(digest, item.sha256)) {
                malformed(lineNumber);
            }
        } else {
            malformed(lineNumber);
        }
        item.path = std::string(line);
        if (!isSealablePath(item.path) || (!items.empty() && !(items.back().path < item.path))) {
            malformed(lineNumber);
        }
        items.push_back(std::move(item));
    }
    return items;
}

void compare(const std::vector<Item>& sealed, const std::vector<Item>& found) {
    auto s = sealed.begin();
    auto f = found.begin();
    while (s != sealed.end() || f != found.end()) {
        if (f == found.end() || (s != sealed.end() && s->path < f->path)) {
            fail("a sealed " + describe(*s) + " is missing");
        }
        if (s == sealed.end() || f->path < s->path) {
            fail("an unsealed " + describe(*f) + " was added");
        }
        if (*s != *f) {
            fail("the sealed " + describe(*s) + " was changed");
        }
        ++s;
        ++f;
    }
}

} // namespace quelmar::BundleSeal
