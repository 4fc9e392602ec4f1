#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quelmar {
class HIDPlatform;
}

// The command-line modes the dispatch chooses from; each returns the process exit status.
namespace quelmar::Modes {

// "--probe" [--samples N]: lists boards, prints identity, configuration and samples.
int probe(const std::vector<std::string>& arguments);
// The same on the HID access that platform() gives; a failure to give it is reported like any other.
int probe(const std::vector<std::string>& arguments, const std::function<HIDPlatform&()>& platform);
// "--probe" … "--json": the same steps as JSON lines (board, identity, config, sample; error or problem).
int probeJson(const std::vector<std::string>& arguments);
int probeJson(const std::vector<std::string>& arguments, const std::function<HIDPlatform&()>& platform);
// "--probe" … "--record" FILE: the probe, and a description of the boards it saw, replayable with QUELMAR_SIMULATOR.
int probeRecording(const std::vector<std::string>& arguments, const std::string& file);
// "--watch" [options]: the headless monitor, its low-battery action and its network endpoint (cli/WatchArguments.h).
int watch(const std::vector<std::string>& arguments);
// "--verify-hex" PATH
int verifyHex(const std::string& path);
// "--check-feed" PATH
int checkFeed(const std::string& path);
// "--stage-update" ARCHIVE VERSION TARGET
int stageUpdate(const std::string& archive, const std::string& version, const std::string& target);
// "--install" …: the installer helper.
int install(const std::vector<std::string>& arguments);
// Anything else.
int application(const std::vector<std::string>& arguments);

} // namespace quelmar::Modes
