#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/shared_file.h"
#include "testsupport/process.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kUser = 1000;  // the programs' user in the runs below

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void put(const std::string& path, const std::string& text, mode_t mode, uid_t owner = 0)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
}

struct stat info(const std::string& path, bool follow = true)
{
    struct stat st {};
    EXPECT_EQ(follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// A directory tree of the root user, readable by everyone, removed at the end.
class SharedFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "shared-file-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string sub(const std::string& name, mode_t mode, uid_t owner = 0)
    {
        const std::string path = dir_ + "/" + name;
        fs::create_directories(path);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        EXPECT_EQ(::chown(path.c_str(), owner, owner), 0);
        return path;
    }

    // Runs the writer as the programs' user (setpriv, so the file modes really apply).
    testsupport::ProcessResult writeAsUser(const std::string& path, const std::string& text)
    {
        return testsupport::runProcess({"setpriv", "--reuid=" + std::to_string(kUser),
                                        "--regid=" + std::to_string(kUser), "--clear-groups",
                                        testsupport::binaryPath("common/tests/shared_file_writer"), path, text});
    }

    std::string dir_;
};

TEST_F(SharedFile, ReplacesByRenameWhereTheDirectoryAllows)
{
    const std::string etc = sub("etc", 0755);
    const std::string fresh = etc + "/fresh.json";
    ASSERT_TRUE(writeSharedFile(fresh, "{}"));
    EXPECT_EQ(slurp(fresh), "{}");
    EXPECT_EQ(info(fresh).st_mode & 07777, 0644u);

    // A reader holding the old file keeps its text whole; a provisioned mode stays.
    const std::string kept = etc + "/kept.json";
    put(kept, "old text", 0666);
    ASSERT_EQ(::link(kept.c_str(), (kept + ".reader").c_str()), 0);
    ASSERT_TRUE(writeSharedFile(kept, "new"));
    EXPECT_EQ(slurp(kept), "new");
    EXPECT_EQ(slurp(kept + ".reader"), "old text");
    EXPECT_EQ(info(kept).st_mode & 07777, 0666u);
    // Nothing temporary is left beside the files.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(etc))
        ++entries;
    EXPECT_EQ(entries, 3u);
}

TEST_F(SharedFile, KeepsASymbolicLinkAndWritesItsTarget)
{
    const std::string etc = sub("etc", 0755);
    const std::string target = sub("data", 0755) + "/list.json";
    put(target, "old text, longer than the new one", 0644);
    const std::string link = etc + "/list.json";
    fs::create_symlink(target, link);

    ASSERT_TRUE(writeSharedFile(link, "new"));
    EXPECT_TRUE(S_ISLNK(info(link, false).st_mode));
    EXPECT_EQ(fs::read_symlink(link), target);
    EXPECT_EQ(slurp(target), "new");
}

TEST_F(SharedFile, AWriteThatFailsBothWaysSaysSoInOneLine)
{
    const std::string path = dir_ + "/missing/list.json";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeSharedFile(path, "new"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot write " + path + ": No such file or directory\n");
    EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

// Bytes that cannot be stored at all (a full disk; here a file size limit) must not cost
// the old text: the in-place write is only for directories and owners that refuse.
TEST_F(SharedFile, BytesThatCannotBeStoredLeaveTheOldFile)
{
    const std::string path = dir_ + "/list.json";
    put(path, "old", 0644);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(writeSharedFile(path, std::string(64, 'n')) ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(slurp(path), "old");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
        ++entries;
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

// The appliance's set-up: etc/ belongs to root, the web interface provisions the shared
// files writable for the programs' user.
struct UserCase {
    const char* label;
    mode_t dirMode;
    uid_t dirOwner;
    mode_t fileMode;
    uid_t fileOwner;
    bool link;          // the path is a symbolic link to the file in another directory
    int exitCode;
    bool sameInode;     // written in place
    const char* err;    // standard error, "%s" for the path
};

TEST_F(SharedFile, WritesAsTheProgramsUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to set up files of two users";
    const UserCase cases[] = {
        {"root-owned etc, provisioned file", 0755, 0, 0666, 0, false, 0, true, ""},
        {"root-owned etc, link to a provisioned file", 0755, 0, 0666, 0, true, 0, true, ""},
        {"writable etc, root's provisioned file keeps its owner", 0777, 0, 0666, 0, false, 0, true, ""},
        {"the user's own etc and file", 0755, kUser, 0644, kUser, false, 0, false, ""},
        {"root-owned etc, file not provisioned", 0755, 0, 0644, 0, false, 1, true,
         "Cannot write %s: Permission denied\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string etc = sub("etc" + std::to_string(n), c.dirMode, c.dirOwner);
        const std::string other = sub("other" + std::to_string(n++), 0755);
        const std::string file = (c.link ? other : etc) + "/tarnvik_avinfo.json";
        put(file, "old text, longer than the new one", c.fileMode, c.fileOwner);
        const std::string path = etc + "/tarnvik_avinfo.json";
        if (c.link)
            fs::create_symlink(file, path);
        const ino_t before = info(file).st_ino;

        const auto result = writeAsUser(path, "new");
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        std::string err = c.err;
        if (const size_t at = err.find("%s"); at != std::string::npos)
            err.replace(at, 2, path);
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(slurp(file), c.exitCode == 0 ? "new" : "old text, longer than the new one");
        if (c.link) {
            EXPECT_TRUE(S_ISLNK(info(path, false).st_mode));
        }
        EXPECT_EQ(info(file).st_ino == before, c.sameInode);
        EXPECT_EQ(info(file).st_uid, c.fileOwner);
        EXPECT_EQ(info(file).st_mode & 07777, c.fileMode);
    }
}

} // namespace
