#include "core/SignedUpdates.h"

#include "core/Base64.h"
#include "core/Hex.h"
#include "core/Sha256.h"
#include "core/Sodium.h"
#include "core/UPSError.h"
#include "core/URLs.h"
#include "core/Version.h"

#include <algorithm>

#include <sodium.h>

namespace quelmar::SignedUpdates {

using nlohmann::json;

namespace {

constexpr std::int64_t maxChunk = 1048576;
constexpr std::size_t maxChunks = 200;

const char* const encodingError = "更新清单编码错误";
const char* const packageError = "更新包信息无效";
const char* const chunkError = "更新分块信息无效";

bool validSize(std::int64_t size, std::int64_t most) {
    return size >= 1 && size <= most;
}

void checkPackage(const UpdatePackage& package) {
    Version{package.version};
    if (!validSize(package.size, maxPackage) || !validHash(package.sha256) || !isHTTPSURL(package.url)) {
        throw UPSError(packageError);
    }
    if (package.transport && package.transport != UpdatePackage::korvanContents &&
        package.transport != UpdatePackage::rawChunks) {
        throw UPSError("不支持的下载方式");
    }
    checkSizeAndChunks(package);
}

} // namespace

UpdateFeed verify(ByteView data, std::string_view key) {
    const auto envelope = json::parse(data.begin(), data.end());
    const auto payloadText = envelope.at("payload").get<std::string>();
    const auto signatureText = envelope.at("signature").get<std::string>();
    const auto payload = decodeBase64(payloadText);
    if (!payload) {
        throw UPSError(encodingError);
    }
    const auto signature = decodeBase64(signatureText);
    if (!signature) {
        throw UPSError(encodingError);
    }
    const auto publicKeyBytes = fromHex(key);
    if (!publicKeyBytes || publicKeyBytes->size() != crypto_sign_PUBLICKEYBYTES) {
        throw UPSError(encodingError);
    }
    // libsodium reads exactly 64 signature bytes; a key it cannot use fails the check below.
    requireSodium();
    if (signature->size() != crypto_sign_BYTES ||
        crypto_sign_verify_detached(signature->data(), payload->data(), payload->size(), publicKeyBytes->data()) != 0) {
        throw UPSError("更新清单签名无效，已拒绝更新");
    }

    auto feed = json::parse(payload->begin(), payload->end()).get<UpdateFeed>();
    if (feed.schema != 1) {
        throw UPSError("不支持的更新清单版本");
    }
    for (const auto& package : feed.packages) {
        checkPackage(package);
    }
    return feed;
}

void checkSizeAndChunks(const UpdatePackage& package) {
    if (!validSize(package.size, maxPackage)) {
        throw UPSError(packageError);
    }
    if (package.transport != UpdatePackage::rawChunks) {
        return;
    }
    if (!package.chunks || package.chunks->empty() || package.chunks->size() > maxChunks) {
        throw UPSError("更新分块数量无效");
    }
    std::int64_t total = 0;
    for (const auto& chunk : *package.chunks) {
        if (!validSize(chunk.size, maxChunk) || !validHash(chunk.sha256) || !isHTTPSURL(chunk.url)) {
            throw UPSError(chunkError);
        }
        total += chunk.size; // at most 200 MiB: no overflow
    }
    if (total != package.size) {
        throw UPSError("更新分块总长度不符");
    }
}

std::optional<UpdatePackage> newerNative(const UpdateFeed& feed, std::string_view current) {
    const Version installed{current};
    const UpdatePackage* best = nullptr;
    std::optional<Version> bestVersion;
    for (const auto& package : feed.packages) {
        if (package.kind != "monitor" || package.platform != platform || package.implementation != "native") {
            continue;
        }
        const Version version{package.version};
        if (version > installed && (!bestVersion || version > *bestVersion)) {
            best = &package;
            bestVersion = version;
        }
    }
    return best ? std::optional<UpdatePackage>(*best) : std::nullopt;
}

std::string hash(ByteView bytes) {
    return toHex(Sha256::of(bytes));
}

bool validHash(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace quelmar::SignedUpdates
