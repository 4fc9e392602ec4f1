// The POSIX helpers the installer stands on: descriptors read to the end, atomic files, spawn file actions.
#include "HexFixtures.h"
#include "system/Descriptor.h"
#include "system/Files.h"
#include "system/Processes.h"

#include <system_error>

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::HasSubstr;
using testing::ThrowsMessage;
namespace fs = std::filesystem;

namespace {

ByteView view(const std::string& text) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::size_t entries(const fs::path& directory) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

} // namespace

TEST(ReadToEnd, AFailedReadIsAnErrorNotAnEnd) {
    TemporaryDirectory dir;
    const Descriptor directory(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_THAT(
        [&] {
            Files::readToEnd(
                directory.get(), [](ByteView) { return true; }, "the pipe");
        },
        ThrowsMessage<std::system_error>(HasSubstr("the pipe")));
}

TEST(AtomicFile, ReadersSeeTheOldFileOrTheWholeNewOne) {
    TemporaryDirectory dir;
    const auto path = dir / "file";
    writeFile(path, "old");
    {
        Files::AtomicFile file(path, 0600);
        Files::writeAll(file.descriptor(), view("new"), "file");
        EXPECT_EQ(readFile(path), "old");
    }
    // Never committed: the temporary file is gone too.
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(entries(dir.path()), 1u);

    Files::writeAtomically(path, std::string_view("new"), 0600);
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));

    EXPECT_THROW(Files::writeNewFile(path, "other", 0644), std::system_error);
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(FileActions, AnActionThatCannotBeRecordedThrows) {
    Processes::FileActions actions;
    EXPECT_THROW(actions.duplicate(-1, STDOUT_FILENO), std::system_error);
    EXPECT_THROW(actions.open(-1, "/dev/null", O_RDONLY), std::system_error);
}
