#include "install/NativeInstaller.h"

#include "BuildConfig.h"
#include "core/NativeZip.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "install/Bundle.h"
#include "install/PropertyList.h"
#include "install/SealedBundle.h"
#include "install/TrustedKey.h"
#include "install/ZipExtraction.h"
#include "system/Files.h"
#include "system/Processes.h"
#include "system/Uuid.h"

#include <cerrno>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace quelmar::NativeInstaller {

namespace fs = std::filesystem;

StagedUpdate prepare(const fs::path& archive, const fs::path& target, const std::string& version) {
    const auto bytes = Files::readUpTo(archive, SignedUpdates::maxPackage);
    if (!bytes) {
        throw UPSError("更新包过大");
    }
    const auto entries = NativeZip::entries(*bytes);

    const auto standardTarget = Files::standardized(target);
    const auto stage = standardTarget.parent_path() / (std::string(stagePrefix) + randomUUID());
    if (::mkdir(stage.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::generic_category(), stage.string());
    }
    try {
        // Exactly owner-only, whatever the umask.
        if (::chmod(stage.c_str(), 0700) != 0) {
            throw std::system_error(errno, std::generic_category(), stage.string());
        }
        ZipExtraction::extract(*bytes, entries, stage);
        validate(stage / Bundle::name, version);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(stage, ignored);
        throw;
    }
    return StagedUpdate{stage, standardTarget, version};
}

void validate(const fs::path& app, const std::string& version) {
    validateWith(app, version, trustedPublicKey());
}

void validateWith(const fs::path& app, const std::string& version, ByteView publicKey) {
    checkIdentity(PropertyList::read(app / Bundle::infoPlist), version);
    SealedBundle::verify(app, publicKey);
}

void checkIdentity(const std::optional<InfoDictionary>& info, const std::string& version) {
    if (!info || info->string("CFBundleIdentifier") != BuildConfig::bundleIdentifier ||
        info->string("CFBundleShortVersionString") != version || info->string("QuelmarImplementation") != "native") {
        throw UPSError("更新包的应用标识、原生类型或版本不符");
    }
}

fs::path currentTarget() {
    const auto bundle = Bundle::mainBundle();
    if (!bundle) {
        throw UPSError("请先将应用移到可写的应用目录，例如 ~/Applications，再更新");
    }
    return checkedTarget(*bundle);
}

fs::path checkedTarget(const fs::path& bundle) {
    const std::string path = bundle.string();
    // A client that a distribution package put under /usr is the package manager's to replace.
    if (bundle.extension() != ".app" && (path == "/usr" || path.starts_with("/usr/"))) {
        throw UPSError("安装在 /usr 中的应用不会自行更新，请通过软件包管理器更新");
    }
    if (bundle.extension() != ".app" || path.find("AppTranslocation") != std::string::npos ||
        path.starts_with("/Volumes/")) {
        throw UPSError("请先将应用移到可写的应用目录，例如 ~/Applications，再更新");
    }
    if (::access(bundle.c_str(), W_OK) != 0 || ::access(bundle.parent_path().c_str(), W_OK) != 0) {
        throw UPSError("应用目录不可写，请移到 ~/Applications 后重试");
    }
    return bundle;
}

void launch(const StagedUpdate& update) {
    const auto executable = Bundle::runningExecutable();
    if (!executable) {
        throw UPSError("无法定位更新助手");
    }
    launchWith(update, *executable);
}

void launchWith(const StagedUpdate& update, const fs::path& executable) {
    const auto installer = update.stage / "installer";
    fs::copy_file(executable, installer);
    Processes::startDetached(installer, {"--install", std::to_string(::getpid()), update.target.string(),
                                         update.stage.string(), update.version});
}

} // namespace quelmar::NativeInstaller
