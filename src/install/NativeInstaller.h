#pragma once

#include "core/Bytes.h"
#include "install/PropertyList.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// An unpacked, validated client update waiting in its staging directory beside the installed bundle.
struct StagedUpdate {
    std::filesystem::path stage;
    std::filesystem::path target;
    std::string version;
};

// Replaces the running client with a newer bundle through a helper copy of itself, keeping the old bundle and
// restoring it when the new one does not come up.
namespace NativeInstaller {

inline constexpr std::string_view stagePrefix = ".quelmar-native-update-";
// The new client's launch acknowledgement, in the staging directory.
inline constexpr std::string_view readyFile = "ready.json";

// The installed bundle the running client came from, links resolved. Throws UPSError when it is no bundle (one
// message for a client under /usr, which a package installed), lies in a download or mounted location, or cannot be
// replaced.
std::filesystem::path currentTarget();
// currentTarget's checks of a bundle path with links resolved; returns it.
std::filesystem::path checkedTarget(const std::filesystem::path& bundle);

// Reads, checks and unpacks the archive into a fresh staging directory beside target and validates the bundle in
// it; the staging directory is removed again when unpacking or validation fails. Blocking.
StagedUpdate prepare(const std::filesystem::path& archive, const std::filesystem::path& target,
                     const std::string& version);

// Info.plist rules (identifier, version text, native implementation) and the seal, checked against the key this
// build trusts; validateWith takes the key (32 bytes) explicitly.
void validate(const std::filesystem::path& app, const std::string& version);
void validateWith(const std::filesystem::path& app, const std::string& version, ByteView publicKey);
// The Info.plist rules alone, on its top-level dictionary (none: the property list is no dictionary).
void checkIdentity(const std::optional<InfoDictionary>& info, const std::string& version);

// Copies the running executable to "installer" in the stage and starts it as the helper; does not wait.
void launch(const StagedUpdate& update);
// The same with another copy of the client as the helper (a process that embeds the client, such as a test).
void launchWith(const StagedUpdate& update, const std::filesystem::path& executable);

// How long the helper waits: probes of the old client until it has exited, polls for the new client's
// acknowledgement, each a pause apart, and one pause for a failed new client to end after SIGTERM.
struct HelperTimes {
    int exitProbes = 60;
    int acknowledgementPolls = 45;
    std::chrono::milliseconds pause{1000};
};

// The helper's steps that move a bundle or start a client.
enum class HelperStep { moveAside, moveIn, start, moveFailed, moveBack, restart };
// Told right before and right after each step (done false, then true); tests stop the helper there.
using HelperObserver = std::function<void(HelperStep step, bool done)>;

// The helper: waits for the old client, swaps the bundles, starts the new client and waits for its
// acknowledgement, rolling back when it does not come. Run again with the same arguments after it was stopped at any
// point, it finishes that install or refuses, leaving a whole client in place. Returns 0 installed, 1 failed,
// 2 arguments refused.
int installFromHelper(const std::vector<std::string>& arguments, const HelperTimes& times = {},
                      const HelperObserver& observe = {});

// Writes the launch acknowledgement when the arguments carry "--update-ready PATH" and "--update-token TOKEN"
// and PATH is a "ready.json" in a staging directory; otherwise, and on any error, does nothing.
void acknowledgeLaunch(const std::vector<std::string>& arguments);

} // namespace NativeInstaller
} // namespace quelmar
