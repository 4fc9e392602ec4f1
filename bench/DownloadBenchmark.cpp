// Downloads one 100 MiB package from the loopback HTTPS test server, alternately with UpdateService
// (digest and atomic write with fsync included) and with the curl tool, and compares the median
// throughputs. Usage: bench_download [ROUNDS]
#include "HttpsServer.h"
#include "Process.h"
#include "core/SignedUpdates.h"
#include "system/Files.h"
#include "update/UpdateService.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace quelmar;
using namespace quelmar::test;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t packageSize = 100 << 20;

double seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double mibPerSecond(double secondsTaken) {
    return static_cast<double>(packageSize) / (1 << 20) / secondsTaken;
}

double curl(const HttpsServer& server, const std::string& output, const std::string& url) {
    const auto started = Clock::now();
    const auto result = runProcess(QUELMAR_CURL, {"--silent", "--show-error", "--fail", "--cacert",
                                                  server.caFile().string(), "--output", output, url});
    const auto elapsed = seconds(Clock::now() - started);
    if (result.status != 0) {
        std::fprintf(stderr, "curl failed: %s\n", result.err.c_str());
        std::exit(1);
    }
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    ::setenv("NO_PROXY", "*", 1);

    Bytes bytes(packageSize);
    std::mt19937_64 generator(7);
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const auto word = generator();
        std::copy_n(reinterpret_cast<const std::uint8_t*>(&word), 8, bytes.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const HttpsServer server;
    server.addFile("package.zip", bytes);
    const TemporaryDirectory directory;

    UpdateService::Options options;
    options.directory = directory.path() / "native-updates";
    options.caFile = server.caFile();
    UpdateService service(options);

    UpdatePackage package;
    package.kind = "monitor";
    package.version = "2.1.0";
    package.url = server.url("/files/package.zip");
    package.size = static_cast<std::int64_t>(bytes.size());
    package.sha256 = SignedUpdates::hash(bytes);

    const auto curlFile = (directory.path() / "curl.zip").string();
    // One untimed pass of each, so that the server holds the file in memory.
    curl(server, curlFile, package.url);
    fs::remove(service.download(package).get());

    std::vector<double> serviceTimes, curlFileTimes, curlNullTimes;
    for (int round = 0; round < rounds; ++round) {
        curlFileTimes.push_back(curl(server, curlFile, package.url));
        curlNullTimes.push_back(curl(server, "/dev/null", package.url));
        const auto started = Clock::now();
        const auto file = service.download(package).get();
        serviceTimes.push_back(seconds(Clock::now() - started));
        fs::remove(file);
    }

    // The share of the atomic write (temporary file, fsync, rename) in the service's time.
    std::vector<double> writeTimes;
    for (int round = 0; round < rounds; ++round) {
        const auto file = directory.path() / "written.zip";
        const auto started = Clock::now();
        Files::writeAtomically(file, bytes);
        writeTimes.push_back(seconds(Clock::now() - started));
        fs::remove(file);
    }

    const double serviceRate = mibPerSecond(median(serviceTimes));
    const double curlFileRate = mibPerSecond(median(curlFileTimes));
    const double curlNullRate = mibPerSecond(median(curlNullTimes));
    std::printf("100 MiB over loopback HTTPS, median of %d rounds\n", rounds);
    std::printf("  UpdateService.download (SHA-256, atomic write, fsync)  %7.1f MiB/s  %6.3f s\n", serviceRate,
                median(serviceTimes));
    std::printf("    of which the atomic write of the verified file             %6.3f s\n", median(writeTimes));
    std::printf("    so the transfer with its SHA-256 takes about                %6.3f s\n",
                median(serviceTimes) - median(writeTimes));
    std::printf("  curl --output FILE                                    %7.1f MiB/s  %6.3f s\n", curlFileRate,
                median(curlFileTimes));
    std::printf("  curl --output /dev/null                               %7.1f MiB/s  %6.3f s\n", curlNullRate,
                median(curlNullTimes));
    std::printf("  ratio to curl --output FILE: %.2f; to curl --output /dev/null: %.2f (target 0.90)\n",
                serviceRate / curlFileRate, serviceRate / curlNullRate);
    return 0;
}
