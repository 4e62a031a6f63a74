// The result log services of this machine's real platform backend: the
// split rule (on Windows the C runtime's own, held against the portable
// rule), the module path, the clock, and files in a scratch folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "platform/split_path.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// The wide form the backend takes: UTF-16 on Windows, one character per
// byte in the host stand-in.
std::wstring Wide(const fs::path &p) {
#if defined(_WIN32)
    return p.wstring();
#else
    std::wstring wide;
    for (const char c : p.string())
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
#endif
}

fs::path FromWide(const std::wstring &wide) {
#if defined(_WIN32)
    return fs::path(wide);
#else
    std::string narrow;
    for (const wchar_t c : wide)
        narrow.push_back(static_cast<char>(c));
    return fs::path(narrow);
#endif
}

std::string Narrow(const std::wstring &wide) {
    std::string narrow;
    for (const wchar_t c : wide)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

struct Split {
    bool ok;
    std::wstring drive, dir, fname, ext;
};

// Splits into buffers of the given size each; with size 0 a part is not
// wanted and gets no buffer.
template <typename Splitter>
Split SplitWith(Splitter split, const std::wstring &path, std::size_t size, bool want_name) {
    std::vector<wchar_t> drive(size + 1, L'#'), dir(size + 1, L'#'), fname(size + 1, L'#'),
        ext(size + 1, L'#');
    const PathParts parts = {drive.data(), size, dir.data(), size,
                             want_name ? fname.data() : nullptr, want_name ? size : 0,
                             want_name ? ext.data() : nullptr, want_name ? size : 0};
    Split out;
    out.ok = split(path.c_str(), parts);
    out.drive = drive.data();
    out.dir = dir.data();
    if (want_name) {
        out.fname = fname.data();
        out.ext = ext.data();
    }
    return out;
}

void ExpectSame(const Split &got, const Split &want) {
    EXPECT_EQ(got.ok, want.ok);
    EXPECT_EQ(got.drive, want.drive);
    EXPECT_EQ(got.dir, want.dir);
    EXPECT_EQ(got.fname, want.fname);
    EXPECT_EQ(got.ext, want.ext);
}

// The backend's split; on Windows also the portable rule the host stand-in
// uses, held against the runtime's own.
Split CheckedSplit(const std::wstring &path, std::size_t size, bool want_name) {
    const Split parts = SplitWith(PlatformSplitPath, path, size, want_name);
#if defined(_WIN32)
    SCOPED_TRACE("portable rule against the runtime's");
    ExpectSame(SplitWith(SplitPathPortable, path, size, want_name), parts);
#endif
    return parts;
}

TEST(PlatformSplitPath, FollowsTheRuntimesRule) {
    struct Case {
        std::wstring path, drive, dir, fname, ext;
    };
    const std::wstring deep = L"\\" + std::wstring(300, L'd') + L"\\" + std::wstring(300, L'e') + L"\\";
    const Case cases[] = {
        {L"C:\\Tools\\probe.exe", L"C:", L"\\Tools\\", L"probe", L".exe"},
        {L"C:\\My.Tools\\probe.exe", L"C:", L"\\My.Tools\\", L"probe", L".exe"},
        {L"C:\\My.Tools\\probe", L"C:", L"\\My.Tools\\", L"probe", L""},
        {L"\\\\server\\share\\tools\\probe.exe", L"", L"\\\\server\\share\\tools\\", L"probe", L".exe"},
        {L"C:/Tools/sub.dir/probe", L"C:", L"/Tools/sub.dir/", L"probe", L""},
        {L"a/b\\c", L"", L"a/b\\", L"c", L""},
        {L"/opt/padprobe/bin/padprobe", L"", L"/opt/padprobe/bin/", L"padprobe", L""},
        {L"probe.exe", L"", L"", L"probe", L".exe"},
        {L"C:probe.exe", L"C:", L"", L"probe", L".exe"},
        {L"C:", L"C:", L"", L"", L""},
        {L"x:\\", L"x:", L"\\", L"", L""},
        {L"C:\\a\\b\\", L"C:", L"\\a\\b\\", L"", L""},
        {L".\\a.b.c", L"", L".\\", L"a.b", L".c"},
        {L"C:\\a\\.hidden", L"C:", L"\\a\\", L"", L".hidden"},
        {L"C:\\a\\b.", L"C:", L"\\a\\", L"b", L"."},
        {L"C\\a:b\\c", L"", L"C\\a:b\\", L"c", L""},
        {L":", L"", L"", L":", L""},
        {L"\\\\?\\C:\\a\\b.exe", L"", L"\\\\?\\C:\\a\\", L"b", L".exe"},
        {L"\\\\", L"", L"\\\\", L"", L""},
        {L"", L"", L"", L"", L""},
        // Parts longer than the runtime's customary 260-character buffers.
        {L"C:" + deep + L"probe.exe", L"C:", deep, L"probe", L".exe"},
        {L"C:\\t\\" + std::wstring(400, L'n') + L".x", L"C:", L"\\t\\", std::wstring(400, L'n'), L".x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(Narrow(c.path).substr(0, 80));
        ExpectSame(CheckedSplit(c.path, c.path.size() + 1, true),
                   {true, c.drive, c.dir, c.fname, c.ext});
    }
}

TEST(PlatformSplitPath, BuffersTooSmallOrNotWanted) {
    struct Case {
        const char *name;
        std::wstring path;
        std::size_t size;
        bool want_name;
        Split want;  // on failure every part is left empty
    };
    const Case cases[] = {
        {"drive and folder only", L"C:\\Tools\\probe.exe", 8, false,
         {true, L"C:", L"\\Tools\\", L"", L""}},
        {"folder exactly fills its buffer", L"C:\\Tools\\probe.exe", 8, true,
         {true, L"C:", L"\\Tools\\", L"probe", L".exe"}},
        {"folder one too long", L"C:\\Tools\\probe.exe", 7, false, {false, L"", L"", L"", L""}},
        {"file name too long", L"C:\\T\\probe.exe", 5, true, {false, L"", L"", L"", L""}},
        {"drive too long", L"C:\\a", 2, false, {false, L"", L"", L"", L""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ExpectSame(CheckedSplit(c.path, c.size, c.want_name), c.want);
    }
}

TEST(PlatformModulePath, NamesThisTestProgram) {
    static wchar_t buffer[PATH_CAPACITY];
    ASSERT_TRUE(PlatformModulePath(buffer, PATH_CAPACITY));
    const std::wstring path = buffer;
    // Too little room is a refusal, never a cut-short path.
    for (const std::size_t room : {path.size(), std::size_t(8)}) {
        std::vector<wchar_t> short_buffer(room);
        EXPECT_FALSE(PlatformModulePath(short_buffer.data(), room)) << room;
    }
    const fs::path p = FromWide(path);
    EXPECT_TRUE(p.is_absolute()) << Narrow(path);
    EXPECT_EQ(p.stem().string(), "log_platform_test");
    EXPECT_TRUE(fs::is_regular_file(p)) << Narrow(path);
}

TEST(PlatformLocalTime, MatchesTheRuntimesLocalTime) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        LocalTime t = {};
        PlatformLocalTime(&t);
        const std::time_t after = std::time(nullptr);
        if (before != after)
            continue;  // a second boundary passed in between
        const std::tm *local = std::localtime(&before);
        ASSERT_NE(local, nullptr);
        EXPECT_EQ(t.year, local->tm_year + 1900);
        EXPECT_EQ(t.month, local->tm_mon + 1);
        EXPECT_EQ(t.day, local->tm_mday);
        EXPECT_EQ(t.hour, local->tm_hour);
        EXPECT_EQ(t.minute, local->tm_min);
        EXPECT_EQ(t.second, local->tm_sec);
        return;
    }
    FAIL() << "the clock never held still for a second";
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("padprobe-log-test-" + std::to_string(static_cast<long long>(std::time(nullptr))) +
                "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this) & 0xFFFF));
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
        log_ = dir_ / "padprobe.txt";
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(dir_, ec))
            fs::permissions(entry.path(), fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    static std::string Contents(const fs::path &p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Put(const fs::path &p, const std::string &text) {
        std::ofstream out(p, std::ios::binary);
        out << text;
    }
    // Opens, prints the two lines and closes; answers whether all of it went through.
    bool WriteTwoLines(const fs::path &p) {
        LogFile file = nullptr;
        if (!PlatformLogOpen(Wide(p).c_str(), &file))
            return false;
        const bool printed = PlatformLogPrint(file, "[%04d-%02d]\r\n", 7, 3) &&
                             PlatformLogPrint(file, "PID:0x%04x\r\n", 0xABu);
        return PlatformLogClose(file) && printed;
    }
    fs::path dir_, log_;
};

TEST_F(LogFileTest, BytesPassUnchangedAndReplaceALongerFile) {
    const std::string expected = "[0007-03]\r\nPID:0x00ab\r\n";
    ASSERT_TRUE(WriteTwoLines(log_));
    EXPECT_EQ(Contents(log_), expected) << "created";
    Put(log_, std::string(500, 'z') + "\n");
    ASSERT_TRUE(WriteTwoLines(log_));
    EXPECT_EQ(Contents(log_), expected) << "truncated";
}

TEST_F(LogFileTest, ADirectoryRefusesTheOpen) {
    fs::create_directory(log_);
    Put(log_ / "inside", "kept");
    LogFile file = nullptr;
    EXPECT_FALSE(PlatformLogOpen(Wide(log_).c_str(), &file));
    EXPECT_TRUE(fs::is_directory(log_));
    EXPECT_EQ(Contents(log_ / "inside"), "kept");
}

TEST_F(LogFileTest, RemoveTakesTheFileAway) {
    Put(log_, "part");
    PlatformLogRemove(Wide(log_).c_str());
    EXPECT_FALSE(fs::exists(log_));
}

TEST_F(LogFileTest, ExamineSeesWhatIsThere) {
    enum Setup { Nothing, Plain, HardLinked, ReadOnly, SymbolicLink };
    struct Case {
        const char *name;
        Setup setup;
        FileFacts facts;
    };
    const Case cases[] = {
        {"nothing", Nothing, {false, false, 0, false}},
        {"plain file", Plain, {true, false, 1, false}},
        {"hard-linked file", HardLinked, {true, false, 2, false}},
        {"read-only file", ReadOnly, {true, false, 1, true}},
#if !defined(_WIN32)
        // Wine 8 shows a host symbolic link as the file it points to.
        {"symbolic link", SymbolicLink, {true, true, 1, false}},
#endif
    };
    const fs::path other = dir_ / "other.txt";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::permissions(log_, fs::perms::owner_all, ec);
        fs::remove(log_, ec);
        fs::remove(other, ec);
        switch (c.setup) {
        case Nothing:
            break;
        case Plain:
            Put(log_, "x");
            break;
        case HardLinked:
            Put(other, "x");
            fs::create_hard_link(other, log_);
            break;
        case ReadOnly:
            Put(log_, "x");
            fs::permissions(log_, fs::perms::owner_write | fs::perms::group_write |
                                      fs::perms::others_write,
                            fs::perm_options::remove);
            break;
        case SymbolicLink:
            Put(other, "x");
            fs::create_symlink(other, log_);
            break;
        }
        FileFacts facts = {true, true, 99, true};
        ASSERT_TRUE(PlatformExamineFile(Wide(log_).c_str(), &facts));
        EXPECT_EQ(facts.exists, c.facts.exists);
        EXPECT_EQ(facts.reparse, c.facts.reparse);
        if (c.facts.exists) {
            EXPECT_EQ(facts.links, c.facts.links);
        }
        EXPECT_EQ(facts.read_only, c.facts.read_only);
    }
}

// A full disk: the bytes cannot reach the file, and print or close says so.
// Whether a short line waits in the stream's buffer is up to the runtime.
TEST_F(LogFileTest, AFullDeviceFailsPrintOrClose) {
#if defined(_WIN32)
    const fs::path full = L"Z:\\dev\\full";  // Wine's view of the host's /dev/full
#else
    const fs::path full = "/dev/full";
#endif
    LogFile file = nullptr;
    if (!PlatformLogOpen(Wide(full).c_str(), &file))
        GTEST_SKIP() << "no full device here";
    const bool printed = PlatformLogPrint(file, "short\r\n");
    const bool closed = PlatformLogClose(file);
    EXPECT_FALSE(printed && closed) << "the failed write went unnoticed";

    ASSERT_TRUE(PlatformLogOpen(Wide(full).c_str(), &file));
    EXPECT_FALSE(PlatformLogPrint(file, "%s", std::string(100000, 'x').c_str()))
        << "print hid the failed write";
    PlatformLogClose(file);
}

#if defined(_WIN32)
TEST_F(LogFileTest, AFileHeldWithoutSharingRefusesTheOpen) {
    Put(log_, "held");
    int fd = -1;
    ASSERT_EQ(_wsopen_s(&fd, log_.wstring().c_str(), _O_RDWR, _SH_DENYRW, _S_IREAD | _S_IWRITE), 0);
    LogFile file = nullptr;
    const bool opened = PlatformLogOpen(Wide(log_).c_str(), &file);
    if (opened)
        PlatformLogClose(file);
    _close(fd);
    EXPECT_FALSE(opened);
    EXPECT_EQ(Contents(log_), "held");
}
#endif

}  // namespace
