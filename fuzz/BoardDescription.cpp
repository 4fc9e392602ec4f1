// The emulated board's JSON description: only the JSON decoder's errors and std::runtime_error naming the member.
// An "image" is read from the test data only: a description may name any file, and some (a FIFO, a terminal)
// would block the fuzzer rather than fail.
#include "device/emulator/BoardDescription.h"

#include "Fuzz.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

using namespace quelmar;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const fs::path boards = QUELMAR_TEST_DATA "/boards";

bool readsOnlyTestData(const json& document) {
    if (!document.is_object() || !document.contains("boards") || !document["boards"].is_array()) {
        return true;
    }
    const auto data = fs::weakly_canonical(QUELMAR_TEST_DATA);
    for (const auto& board : document["boards"]) {
        if (!board.is_object() || !board.contains("image") || !board["image"].is_string()) {
            continue;
        }
        const auto image = board["image"].get<std::string>();
        if (image.find('\0') != std::string::npos) {
            return false;
        }
        std::error_code error;
        const auto path = fs::weakly_canonical(boards / image, error);
        const auto relative = path.lexically_relative(data);
        if (error || relative.empty() || relative.begin()->string() == "..") {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzz::text(data, size));
    const auto document = json::parse(text, nullptr, false);
    if (!document.is_discarded() && !readsOnlyTestData(document)) {
        return -1; // not kept in the corpus
    }
    try {
        BoardDescription::parse(text, boards);
    } catch (const json::exception&) {
    } catch (const std::runtime_error&) {
    }
    return 0;
}
