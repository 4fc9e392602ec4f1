// Writes the seed corpora that do not come straight from tests/data: quelmar_fuzz_seeds FOLDER makes
// FOLDER/<target>/ for each such target, and FOLDER/bundle/Quelmar_Monitor.app, a small sealed bundle that
// scripts/fuzz packs with the real archivers (zip, bsdtar, Python's zipfile) besides the publisher's own packing.
#include "Fuzz.h"
#include "core/Base64.h"
#include "core/BatteryConfig.h"
#include "core/BundleSeal.h"
#include "install/SealedBundle.h"
#include "system/Files.h"
#include "tools/BundlePacking.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <plist/plist.h>

using namespace quelmar;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

fs::path out;

ByteView view(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void seed(const std::string& target, const std::string& name, ByteView contents) {
    fs::create_directories(out / target);
    Files::writeAtomically(out / target / name, contents);
}

void seed(const std::string& target, const std::string& name, const std::string& contents) {
    seed(target, name, view(contents));
}

std::string envelope(const std::string& payload) {
    return json{{"payload", encodeBase64(view(payload))}, {"signature", encodeBase64(fuzz::key().sign(view(payload)))}}
        .dump();
}

std::string xmlPlist(const std::map<std::string, std::string>& members) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : members) {
        text += "\t<key>" + key + "</key>\n\t<string>" + value + "</string>\n";
    }
    return text + "</dict>\n</plist>\n";
}

Bytes binaryPlist(const std::map<std::string, std::string>& members) {
    const std::unique_ptr<void, decltype(&plist_free)> dict(plist_new_dict(), &plist_free);
    for (const auto& [key, value] : members) {
        plist_dict_set_item(dict.get(), key.c_str(), plist_new_string(value.c_str()));
    }
    char* data = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(dict.get(), &data, &length);
    Bytes bytes(data, data + length);
    std::free(data);
    return bytes;
}

const std::map<std::string, std::string> identity = {{"CFBundleExecutable", "quelmar"},
                                                     {"CFBundleIdentifier", "net.quelmar.monitor"},
                                                     {"CFBundleShortVersionString", "2.1.0"},
                                                     {"QuelmarImplementation", "native"}};

void feeds() {
    const std::string hash = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const json client = {{"kind", "monitor"},
                         {"platform", "linux"},
                         {"implementation", "native"},
                         {"version", "2.1.0"},
                         {"url", "https://h.example/c.zip"},
                         {"size", 3},
                         {"sha256", hash},
                         {"notes", "新版本"}};
    const json firmware = {{"kind", "firmware"},
                           {"model", "Quelmar DC UPS"},
                           {"hardware", {"1.2"}},
                           {"version", "1.0.9"},
                           {"url", "https://h.example/f"},
                           {"size", 2},
                           {"sha256", hash},
                           {"transport", "raw-chunks"},
                           {"chunks",
                            {{{"url", "https://h.example/1"}, {"size", 1}, {"sha256", hash}},
                             {{"url", "https://h.example/2"}, {"size", 1}, {"sha256", hash}}}}};
    const json contents = {{"kind", "monitor"}, {"version", "0.0.1"}, {"url", "https://h.example/k"},
                           {"size", 104857600}, {"sha256", hash},     {"transport", "korvan-contents"}};
    const std::vector<json> payloads = {{{"schema", 1}, {"packages", {client, firmware, contents}}},
                                        {{"schema", 1}, {"packages", json::array()}},
                                        {{"schema", 2}, {"packages", {client}}}};
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        seed("signed_feed", "payload-" + std::to_string(i), payloads[i].dump(1));
        seed("feed", "envelope-" + std::to_string(i), envelope(payloads[i].dump()));
    }
}

void reports() {
    // clang-format off
    seed("reports", "telemetry", Bytes{0x08, 87, 0xA0, 0x23, 0xC2, 0x04, 0x55, 0x00, 0x27, 0x01, 0xB4, 0x04,
                                       0xD2, 0x00, 0xF6, 0x01, 0x50, 0x00, 0xB1, 0x04, 0x2D, 0x00, 18, 0x43, 0x00});
    seed("reports", "identity", Bytes{0x06, 1, 2, 1, 0, 8});
    seed("reports", "legacy", Bytes{8, 11, 12, 15,
                                    0x01, 87, 0, 0, 0, 0, 0x43, 0x00,
                                    0x02, 0xB4, 0x04, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0x03, 18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0x04, 0xA0, 0x23, 0, 0, 0, 0, 0xC2, 0x04, 0x55, 0x00, 0, 0, 0x27, 0x01});
    // clang-format on
    seed("reports", "config", BatteryConfig(2600, 45000, 2).report());
}

void plists() {
    seed("info_plist", "identity.xml", xmlPlist(identity));
    seed("info_plist", "identity.bplist", binaryPlist(identity));
    seed("info_plist", "nested.xml",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><array><integer>1</integer><real>2.5</real>"
         "<true/><data>AAEC</data><date>2024-01-01T00:00:00Z</date><dict/></array></dict></plist>");
}

// A small bundle, sealed with the fuzz key; its seal's body and whole manifest are seeds too.
void bundle() {
    const auto app = out / "bundle" / "Quelmar_Monitor.app";
    fs::remove_all(out / "bundle");
    fs::create_directories(app / "Contents/bin");
    fs::create_directories(app / "Contents/Resources/empty");
    Files::writeAtomically(app / "Contents/Info.plist", xmlPlist(identity));
    Files::writeAtomically(app / "Contents/bin/quelmar", std::string("#!/bin/sh\necho 2.1.0\n"), 0755);
    Files::writeAtomically(app / "Contents/Resources/说明.txt", std::string("Quelmar\n"));
    SealedBundle::seal(app, [](ByteView message) { return fuzz::key().sign(message); });
    const auto manifest = *Files::readUpTo(app / BundleSeal::manifestPath, BundleSeal::maxManifestSize);
    seed("seal_manifest", "manifest", manifest);
    seed("seal_manifest", "body", BundleSeal::body(SealedBundle::items(app)));
    fs::create_directories(out / "native_zip");
    publish::pack(app, out / "native_zip" / "packed.zip");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quelmar_fuzz_seeds FOLDER\n";
        return 2;
    }
    out = argv[1];
    for (const auto* version : {"2.0.1", "1.0.8", "0.0.0", "9223372036854775807.0.1", "01.2.3", "2.1"}) {
        seed("version", version, std::string(version));
    }
    feeds();
    reports();
    plists();
    bundle();
    return 0;
}
