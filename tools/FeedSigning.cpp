#include "tools/FeedSigning.h"

#include "core/Base64.h"
#include "tools/SigningKey.h"

#include <nlohmann/json.hpp>

namespace quelmar::publish {

std::string signFeed(ByteView feed, const SigningKey& key) {
    const nlohmann::json envelope = {
        {"payload", encodeBase64(feed)},
        {"signature", encodeBase64(key.sign(feed))},
    };
    return envelope.dump() + "\n";
}

} // namespace quelmar::publish
