#include "TemporaryDirectory.h"

#include <cerrno>
#include <system_error>

#include <stdlib.h>

namespace fs = std::filesystem;

namespace quelmar::test {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "quelmar-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    // Tests may have taken permissions away to provoke failures.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

} // namespace quelmar::test
