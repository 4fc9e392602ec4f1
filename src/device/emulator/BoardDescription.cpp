#include "device/emulator/BoardDescription.h"

#include "core/FirmwareImage.h"
#include "core/UPSError.h"
#include "system/Files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <system_error>

namespace quelmar {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

// Refuses members the format does not know, so that a misspelt fault switch is not silently ignored.
void onlyMembers(const json& object, const std::string& where, const std::set<std::string>& known) {
    if (!object.is_object()) {
        fail(where, "must be an object");
    }
    for (const auto& [name, value] : object.items()) {
        if (!known.contains(name)) {
            fail(where, "unknown member \"" + name + "\"");
        }
    }
}

std::int64_t integer(const json& value, const std::string& where, std::int64_t min, std::int64_t max) {
    if (!value.is_number_integer()) {
        fail(where, "must be an integer");
    }
    const bool tooLarge = value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(max);
    if (tooLarge || value.get<std::int64_t>() > max || value.get<std::int64_t>() < min) {
        fail(where, "must lie between " + std::to_string(min) + " and " + std::to_string(max));
    }
    return value.get<std::int64_t>();
}

std::string text(const json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where, "must be a string");
    }
    return value.get<std::string>();
}

bool boolean(const json& value, const std::string& where) {
    if (!value.is_boolean()) {
        fail(where, "must be true or false");
    }
    return value.get<bool>();
}

// A real that the board can carry: value × scale fits the report field.
double real(const json& value, const std::string& where, double scale, double min, double max) {
    if (!value.is_number()) {
        fail(where, "must be a number");
    }
    const double v = value.get<double>();
    const double raw = std::round(v * scale);
    if (!std::isfinite(v) || raw < min || raw > max) {
        fail(where, "does not fit the board's report field");
    }
    return v;
}

template <std::size_t N>
std::array<std::uint8_t, N> version(const json& value, const std::string& where) {
    const auto s = text(value, where);
    std::array<std::uint8_t, N> out{};
    const char* p = s.data();
    const char* const end = s.data() + s.size();
    for (std::size_t i = 0; i < N; ++i) {
        unsigned v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc() || v > 255 || next == p) {
            fail(where, "must be " + std::to_string(N) + " numbers from 0 to 255 joined by \".\"");
        }
        out[i] = static_cast<std::uint8_t>(v);
        p = next;
        if (i + 1 < N) {
            if (p == end || *p != '.') {
                fail(where, "must be " + std::to_string(N) + " numbers from 0 to 255 joined by \".\"");
            }
            ++p;
        }
    }
    if (p != end) {
        fail(where, "must be " + std::to_string(N) + " numbers from 0 to 255 joined by \".\"");
    }
    return out;
}

InterfaceRole role(const json& value, const std::string& where) {
    const auto s = text(value, where);
    if (s == "vendor") {
        return InterfaceRole::vendor;
    }
    if (s == "power") {
        return InterfaceRole::power;
    }
    fail(where, "must be \"vendor\" or \"power\"");
}

std::optional<std::int64_t> nullableInteger(const json& value, const std::string& where, std::int64_t max) {
    return value.is_null() ? std::nullopt : std::optional(integer(value, where, 0, max));
}

std::optional<std::string> nullableText(const json& value, const std::string& where) {
    return value.is_null() ? std::nullopt : std::optional(text(value, where));
}

InterfaceDescription interfaceFrom(const json& value, const std::string& where) {
    if (value.is_string()) {
        return {role(value, where)};
    }
    onlyMembers(value, where, {"role", "usagePage", "productID", "location", "product", "serial"});
    if (!value.contains("role")) {
        fail(where, "needs a \"role\"");
    }
    InterfaceDescription out{role(value["role"], where + ".role")};
    if (value.contains("usagePage")) {
        out.usagePage = nullableInteger(value["usagePage"], where + ".usagePage", 0xFFFF);
    }
    if (value.contains("productID")) {
        out.productID = nullableInteger(value["productID"], where + ".productID", 0xFFFF);
    }
    if (value.contains("location")) {
        out.location = nullableInteger(value["location"], where + ".location", 0xFFFFFFFF);
    }
    if (value.contains("product")) {
        out.product = nullableText(value["product"], where + ".product");
    }
    if (value.contains("serial")) {
        out.serial = nullableText(value["serial"], where + ".serial");
    }
    return out;
}

void readTelemetry(Snapshot& t, const json& value, const std::string& where) {
    onlyMembers(value, where,
                {"capacity", "runtime", "batteryVoltage", "batteryCurrent", "temperature", "inputVoltage",
                 "inputCurrent", "output5Voltage", "output5Current", "output12Voltage", "output12Current", "load",
                 "status"});
    const auto in = [&](const char* name) { return where + "." + name; };
    for (const auto& [name, field] : value.items()) {
        const auto w = in(name.c_str());
        if (name == "capacity")
            t.capacity = integer(field, w, 0, 255);
        else if (name == "runtime")
            t.runtime = integer(field, w, 0, 65535);
        else if (name == "load")
            t.load = integer(field, w, 0, 255);
        else if (name == "status")
            t.status = integer(field, w, 0, 65535);
        else if (name == "temperature")
            t.temperature = real(field, w, 10, 0, 65535);
        else if (name.ends_with("Current")) {
            const double v = real(field, w, 100, -32768, 32767);
            (name == "batteryCurrent"   ? t.batteryCurrent
             : name == "inputCurrent"   ? t.inputCurrent
             : name == "output5Current" ? t.output5Current
                                        : t.output12Current) = v;
        } else {
            const double v = real(field, w, 100, 0, 65535);
            (name == "batteryVoltage"   ? t.batteryVoltage
             : name == "inputVoltage"   ? t.inputVoltage
             : name == "output5Voltage" ? t.output5Voltage
                                        : t.output12Voltage) = v;
        }
    }
}

template <typename V>
std::map<std::uint8_t, V> perReport(const json& value, const std::string& where, std::int64_t min, std::int64_t max) {
    if (!value.is_object()) {
        fail(where, "must be an object keyed by report ID");
    }
    std::map<std::uint8_t, V> out;
    for (const auto& [key, field] : value.items()) {
        unsigned id = 0;
        const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), id);
        if (ec != std::errc() || end != key.data() + key.size() || id > 255) {
            fail(where, "key \"" + key + "\" is not a report ID");
        }
        out[static_cast<std::uint8_t>(id)] = static_cast<V>(integer(field, where + "." + key, min, max));
    }
    return out;
}

constexpr std::int64_t maxPacket = 1'000'000;

// An object keyed by bootloader packet number (from 1).
template <typename Read>
auto perPacket(const json& value, const std::string& where, Read read) {
    if (!value.is_object()) {
        fail(where, "must be an object keyed by packet number");
    }
    std::map<std::size_t, decltype(read(value, where))> out;
    for (const auto& [key, field] : value.items()) {
        std::size_t n = 0;
        const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), n);
        if (ec != std::errc() || end != key.data() + key.size() || n < 1 || n > maxPacket) {
            fail(where, "key \"" + key + "\" is not a packet number");
        }
        out[n] = read(field, where + "." + key);
    }
    return out;
}

// A list of input reports, each a list of bytes (byte 0 its ID).
std::vector<Bytes> reports(const json& value, const std::string& where) {
    if (!value.is_array()) {
        fail(where, "must be a list of reports");
    }
    std::vector<Bytes> out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto w = where + "[" + std::to_string(i) + "]";
        if (!value[i].is_array() || value[i].empty() || value[i].size() > 64) {
            fail(w, "must be a list of 1 to 64 bytes");
        }
        Bytes report;
        for (std::size_t k = 0; k < value[i].size(); ++k) {
            report.push_back(
                static_cast<std::uint8_t>(integer(value[i][k], w + "[" + std::to_string(k) + "]", 0, 255)));
        }
        out.push_back(std::move(report));
    }
    return out;
}

Bytes imageFrom(const json& value, const std::string& where, const std::filesystem::path& directory) {
    const std::filesystem::path path = directory / text(value, where);
    std::optional<Bytes> hex;
    try {
        hex = Files::readUpTo(path, FirmwareImage::maxFileSize);
    } catch (const std::system_error&) {
        fail(where, "cannot read " + path.string());
    }
    try {
        return FirmwareImage::fromFile(hex).bytes();
    } catch (const UPSError& e) {
        fail(where, path.string() + ": " + e.message());
    }
}

BoardFaults faultsFrom(const json& value, const std::string& where) {
    onlyMembers(value, where,
                {"openStatus", "openFailsOn", "getStatus", "setStatus", "replyLength", "replyID", "readBack",
                 "dropReply", "replyStatus", "vanishAfter", "sendBefore", "sendAfter", "delayMs", "leaveAfterMs",
                 "returnAfterMs"});
    BoardFaults f;
    constexpr std::int64_t anyStatus = 0xFFFFFFFF;
    const auto status = [&](const json& v, const std::string& w) {
        // Written as the unsigned number a message shows; kept as the same 32 bits.
        return static_cast<HIDStatus>(static_cast<std::uint32_t>(integer(v, w, 1, anyStatus)));
    };
    if (value.contains("openStatus"))
        f.openStatus = status(value["openStatus"], where + ".openStatus");
    if (value.contains("openFailsOn"))
        f.openFailsOn = role(value["openFailsOn"], where + ".openFailsOn");
    if (value.contains("getStatus")) {
        for (const auto& [id, s] : perReport<std::int64_t>(value["getStatus"], where + ".getStatus", 1, anyStatus)) {
            f.getStatus[id] = static_cast<HIDStatus>(static_cast<std::uint32_t>(s));
        }
    }
    if (value.contains("setStatus")) {
        for (const auto& [id, s] : perReport<std::int64_t>(value["setStatus"], where + ".setStatus", 1, anyStatus)) {
            f.setStatus[id] = static_cast<HIDStatus>(static_cast<std::uint32_t>(s));
        }
    }
    if (value.contains("replyLength"))
        f.replyLength = perReport<std::size_t>(value["replyLength"], where + ".replyLength", 0, 64);
    if (value.contains("replyID"))
        f.replyID = perReport<std::uint8_t>(value["replyID"], where + ".replyID", 0, 255);
    if (value.contains("readBack")) {
        const auto& r = value["readBack"];
        const auto w = where + ".readBack";
        onlyMembers(r, w, {"capacity", "resistanceMicroOhms", "nominal"});
        if (r.contains("capacity"))
            f.readBackCapacity = integer(r["capacity"], w + ".capacity", 0, 0xFFFF);
        if (r.contains("resistanceMicroOhms"))
            f.readBackResistance = integer(r["resistanceMicroOhms"], w + ".resistanceMicroOhms", 0, 0xFFFFFFFF);
        if (r.contains("nominal"))
            f.readBackNominal = integer(r["nominal"], w + ".nominal", 0, 255);
    }
    const auto packet = [](const json& v, const std::string& w) {
        return static_cast<std::size_t>(integer(v, w, 1, maxPacket));
    };
    if (value.contains("dropReply"))
        f.dropReply = packet(value["dropReply"], where + ".dropReply");
    if (value.contains("vanishAfter"))
        f.vanishAfter = packet(value["vanishAfter"], where + ".vanishAfter");
    if (value.contains("replyStatus")) {
        f.replyStatus =
            perPacket(value["replyStatus"], where + ".replyStatus", [](const json& v, const std::string& w) {
                return static_cast<std::uint8_t>(integer(v, w, 0, 255));
            });
    }
    if (value.contains("sendBefore"))
        f.sendBefore = perPacket(value["sendBefore"], where + ".sendBefore", reports);
    if (value.contains("sendAfter"))
        f.sendAfter = perPacket(value["sendAfter"], where + ".sendAfter", reports);
    if (value.contains("delayMs"))
        f.delayMilliseconds = integer(value["delayMs"], where + ".delayMs", 0, 60000);
    constexpr std::int64_t day = 86'400'000;
    if (value.contains("leaveAfterMs"))
        f.leaveAfterMilliseconds = integer(value["leaveAfterMs"], where + ".leaveAfterMs", 0, day);
    if (value.contains("returnAfterMs")) {
        if (!f.leaveAfterMilliseconds) {
            fail(where + ".returnAfterMs", "needs \"leaveAfterMs\"");
        }
        f.returnAfterMilliseconds = integer(value["returnAfterMs"], where + ".returnAfterMs", 0, day);
    }
    return f;
}

// Bytes as hexadecimal pairs separated by spaces: "08 57 a0".
Bytes hexBytes(const json& value, const std::string& where) {
    const auto s = text(value, where);
    Bytes out;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        unsigned byte = 0;
        const auto [end, ec] = std::from_chars(s.data() + i, s.data() + std::min(i + 2, s.size()), byte, 16);
        if (ec != std::errc() || end != s.data() + i + 2) {
            fail(where, "must be bytes as pairs of hexadecimal digits separated by spaces");
        }
        out.push_back(static_cast<std::uint8_t>(byte));
        i += 2;
    }
    if (out.empty() || out.size() > 64) {
        fail(where, "must hold 1 to 64 bytes");
    }
    return out;
}

std::vector<RecordedReply> recordedFrom(const json& value, const std::string& where) {
    if (!value.is_array()) {
        fail(where, "must be a list");
    }
    std::vector<RecordedReply> out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto& one = value[i];
        const auto w = where + "[" + std::to_string(i) + "]";
        onlyMembers(one, w, {"interface", "type", "id", "bytes", "status"});
        if (!one.contains("interface") || !one.contains("type") || !one.contains("id") ||
            one.contains("bytes") == one.contains("status")) {
            fail(w, "needs \"interface\", \"type\", \"id\" and either \"bytes\" or \"status\"");
        }
        RecordedReply reply;
        reply.interface = role(one["interface"], w + ".interface");
        const auto type = text(one["type"], w + ".type");
        if (type != "feature" && type != "input") {
            fail(w + ".type", "must be \"feature\" or \"input\"");
        }
        reply.type = type == "input" ? ReportType::input : ReportType::feature;
        reply.id = static_cast<std::uint8_t>(integer(one["id"], w + ".id", 0, 255));
        if (one.contains("status")) {
            reply.status = static_cast<HIDStatus>(
                static_cast<std::uint32_t>(integer(one["status"], w + ".status", 1, 0xFFFFFFFF)));
        } else {
            reply.bytes = hexBytes(one["bytes"], w + ".bytes");
        }
        out.push_back(std::move(reply));
    }
    return out;
}

BoardDescription boardFrom(const json& value, const std::string& where, const std::filesystem::path& directory) {
    onlyMembers(value, where,
                {"product", "serial", "location", "bootloader", "vendorID", "productID", "hardware", "software",
                 "interfaces", "config", "telemetry", "moving", "restartMs", "image", "faults", "reports"});
    BoardDescription b;
    const auto in = [&](const char* name) { return where + "." + name; };
    if (value.contains("product"))
        b.product = text(value["product"], in("product"));
    if (value.contains("serial"))
        b.serial = text(value["serial"], in("serial"));
    if (value.contains("location"))
        b.location = integer(value["location"], in("location"), 0, 0xFFFFFFFF);
    if (value.contains("bootloader"))
        b.bootloader = boolean(value["bootloader"], in("bootloader"));
    if (value.contains("vendorID"))
        b.vendorID = integer(value["vendorID"], in("vendorID"), 0, 0xFFFF);
    if (value.contains("productID"))
        b.productID = integer(value["productID"], in("productID"), 0, 0xFFFF);
    if (value.contains("hardware"))
        b.hardware = version<2>(value["hardware"], in("hardware"));
    if (value.contains("software"))
        b.software = version<3>(value["software"], in("software"));
    if (value.contains("interfaces")) {
        const auto& list = value["interfaces"];
        if (!list.is_array()) {
            fail(in("interfaces"), "must be a list");
        }
        b.interfaces.clear();
        for (std::size_t i = 0; i < list.size(); ++i) {
            b.interfaces.push_back(interfaceFrom(list[i], in("interfaces") + "[" + std::to_string(i) + "]"));
        }
    }
    if (value.contains("config")) {
        const auto& c = value["config"];
        const auto w = in("config");
        onlyMembers(c, w, {"capacity", "resistanceMicroOhms", "nominal"});
        if (c.contains("capacity"))
            b.config.capacity = integer(c["capacity"], w + ".capacity", 0, 0xFFFF);
        if (c.contains("resistanceMicroOhms"))
            b.config.resistanceMicroOhms = integer(c["resistanceMicroOhms"], w + ".resistanceMicroOhms", 0, 0xFFFFFFFF);
        if (c.contains("nominal"))
            b.config.nominal = integer(c["nominal"], w + ".nominal", 0, 255);
    }
    if (value.contains("telemetry"))
        readTelemetry(b.telemetry, value["telemetry"], in("telemetry"));
    if (value.contains("moving"))
        b.moving = boolean(value["moving"], in("moving"));
    if (value.contains("restartMs"))
        b.restartMilliseconds = integer(value["restartMs"], in("restartMs"), 0, 60000);
    if (value.contains("image"))
        b.image = imageFrom(value["image"], in("image"), directory);
    if (value.contains("faults"))
        b.faults = faultsFrom(value["faults"], in("faults"));
    if (value.contains("reports"))
        b.reports = recordedFrom(value["reports"], in("reports"));
    return b;
}

} // namespace

Snapshot BoardDescription::defaultTelemetry() {
    return {.capacity = 87,
            .runtime = 9120,
            .batteryVoltage = 12.18,
            .batteryCurrent = 0.85,
            .temperature = 29.5,
            .inputVoltage = 12.04,
            .inputCurrent = 2.1,
            .output5Voltage = 5.02,
            .output5Current = 0.8,
            .output12Voltage = 12.01,
            .output12Current = 0.45,
            .load = 18,
            .status = 0x0043}; // on mains, charging, battery present
}

BoardDescription BoardDescription::standard() {
    BoardDescription b;
    b.serial = "QM2A000172";
    b.location = 0x01100000; // bus 1, port 1
    b.moving = true;
    return b;
}

std::vector<BoardDescription> BoardDescription::parse(const std::string& text, const std::filesystem::path& directory) {
    const json document = json::parse(text);
    onlyMembers(document, "top level", {"boards"});
    if (!document.contains("boards") || !document["boards"].is_array()) {
        fail("top level", "needs a list \"boards\"");
    }
    std::vector<BoardDescription> boards;
    for (std::size_t i = 0; i < document["boards"].size(); ++i) {
        boards.push_back(boardFrom(document["boards"][i], "boards[" + std::to_string(i) + "]", directory));
    }
    return boards;
}

} // namespace quelmar
