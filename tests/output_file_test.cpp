// Publishing outputs: written unseen, named atomically with the numbering, on every way the
// file system and kernel offer (refusals injected with a seccomp filter in a child process),
// and the clean-up of what a killed worker leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <seccomp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "support/document_support.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wc99-extensions"
#endif

// What a file system or kernel may lack, made to look so for one child process.
enum Refuse : unsigned {
    kNoTmpfile = 1,        // open(O_TMPFILE): EOPNOTSUPP
    kNoEmptyPathLink = 2,  // linkat(AT_EMPTY_PATH): ENOENT, as for a user without the capability
    kNoLinkAtAll = 4,      // no linkat, and no /proc/self/fd to be seen
    kNoNoReplace = 8,      // renameat2: EINVAL
};

// Runs `body` in a child under those refusals and returns what it returned (or why it died).
std::string InChild(unsigned refuse, const std::function<std::string()>& body) {
    int pipe[2];
    if (::pipe(pipe) != 0) return "no pipe";
    pid_t child = ::fork();
    if (child == 0) {
        scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
        if (refuse & kNoTmpfile)
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(EOPNOTSUPP), SCMP_SYS(openat), 1,
                             SCMP_A2(SCMP_CMP_MASKED_EQ, __O_TMPFILE, __O_TMPFILE));
        if (refuse & kNoEmptyPathLink)
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOENT), SCMP_SYS(linkat), 1,
                             SCMP_A4(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
        if (refuse & kNoLinkAtAll)
            for (int call : {SCMP_SYS(linkat), SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2)})
                seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOENT), call, 0);
        if (refuse & kNoNoReplace) seccomp_rule_add(filter, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(renameat2), 0);
        std::string result = seccomp_load(filter) == 0 ? body() : "no filter";
        ssize_t ignored = ::write(pipe[1], result.data(), result.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string result;
    char chunk[4096];
    for (ssize_t got; (got = ::read(pipe[0], chunk, sizeof chunk)) > 0;) result.append(chunk, static_cast<size_t>(got));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? result : "died of signal " + std::to_string(WTERMSIG(status));
}

// A folder listing with process ids and counters in hidden names made "N".
std::string Listing(const std::string& folder) {
    return std::regex_replace(ListFolder(folder), std::regex("quillaven-[0-9]+-[0-9]+"), "quillaven-N-N");
}

}  // namespace

TEST(OutputNaming, NumbersAndTheLongestNameCutAtACharacter) {
    const std::string e = "\u00e9";  // two bytes
    struct Case {
        std::string stem;
        int n;
        std::string tail;
        size_t nameMax;
        std::string name;
    };
    const Case cases[] = {
        {"Holiday", 1, ".png", 255, "Holiday.png"},
        {"Holiday", 2, ".png", 255, "Holiday (2).png"},
        {"Holiday.png", 9999, "", 255, "Holiday.png (9999)"},
        {"abcdef", 1, ".txt", 8, "abcd.txt"},
        {"abcdef", 12, ".txt", 12, "abc (12).txt"},
        {"a" + e + e, 1, ".md", 6, "a" + e + ".md"},  // 7 bytes would cut the second character in half
        {e + "\U0001F600", 1, "", 5, e},               // a four-byte character goes whole
        {"abc", 2, ".epub", 9, " (2).epub"},           // nothing of the stem fits, but the name does
        {"abc", 2, ".epub", 8, ""},                    // not even that
    };
    for (const Case& c : cases) EXPECT_EQ(NumberedName(c.stem, c.n, c.tail, c.nameMax), c.name) << c.stem;
}

TEST(OutputFile, UnseenUntilPublishedOnEveryWayOfNamingIt) {
    struct Case {
        const char* name;
        unsigned refuse;
        const char* whileWriting;  // the folder while the file is written
    };
    const Case cases[] = {
        {"unnamed, linked by descriptor", 0, "out.txt"},
        {"unnamed, linked through /proc", kNoEmptyPathLink, "out.txt"},
        {"unnamed, copied when it cannot be linked", kNoLinkAtAll, "out.txt"},
        {"hidden name", kNoTmpfile, ".quillaven-N-N.txt|out.txt"},
        {"hidden name, linked and unlinked", kNoTmpfile | kNoNoReplace, ".quillaven-N-N.txt|out.txt"},
    };
    mode_t mask = ::umask(0);
    ::umask(mask);
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir.File("out.txt"), "mine");  // the first name is taken
        std::string result = InChild(c.refuse, [&] {
            OutputFile file(dir.path(), "out", "txt");
            file.Write("new ");
            std::string during = Listing(dir.path());
            file.Write("text");
            std::string published = file.Publish();
            return during + " => " + FileNameOf(published);
        });
        EXPECT_EQ(result, std::string(c.whileWriting) + " => out (2).txt") << c.name;
        EXPECT_EQ(ListFolder(dir.path()), "out (2).txt|out.txt") << c.name;
        EXPECT_EQ(ReadFile(dir.File("out (2).txt")) + ReadFile(dir.File("out.txt")), "new textmine") << c.name;
        struct stat info {};
        ::stat(dir.File("out (2).txt").c_str(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << c.name;  // as any new file
    }
}

TEST(OutputFile, ByNameForLibrariesAndNothingLeftWhenUnpublished) {
    for (unsigned refuse : {0u, unsigned(kNoTmpfile), unsigned(kNoLinkAtAll)}) {
        TempDir dir;
        std::string result = InChild(refuse, [&] {
            {
                OutputFile abandoned(dir.path(), "gone", "mp4");
                abandoned.Write("half");
                abandoned.TemporaryPath();
            }
            OutputFile file(dir.path(), "clip", "mp4");
            file.Write("written before");
            const std::string& path = file.TemporaryPath();
            std::string before = ReadFile(path);
            // A library opens it by name and writes it from the start.
            int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
            ssize_t wrote = ::write(fd, "by name", 7);
            ::close(fd);
            std::string during = Listing(dir.path());
            return before + "|" + std::to_string(wrote) + "|" + FileNameOf(path).substr(FileNameOf(path).size() - 4) +
                   "|" + during + " => " + FileNameOf(file.Publish());
        });
        EXPECT_EQ(result, "written before|7|.mp4|.quillaven-N-N.mp4 => clip.mp4") << refuse;
        EXPECT_EQ(ListFolder(dir.path()), "clip.mp4") << refuse;
        EXPECT_EQ(ReadFile(dir.File("clip.mp4")), "by name") << refuse;
    }
}

TEST(OutputFile, NamesTakenByAnythingAndNumbersEndAt9999) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("Holiday.png").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", dir.File("Holiday (2).png").c_str()), 0);  // dangling
    EXPECT_EQ(PublishOutput(dir.path(), "Holiday", "png", "x"), dir.File("Holiday (3).png"));

    WriteFile(dir.File("a.txt"), "");
    for (int n = 2; n <= 9998; ++n) WriteFile(dir.File("a (" + std::to_string(n) + ").txt"), "");
    EXPECT_EQ(PublishOutput(dir.path(), "a", "txt", "last"), dir.File("a (9999).txt"));
    EXPECT_EQ(ErrorOf([&] { PublishOutput(dir.path(), "a", "txt", "one too many"); }),
              "Too many files with this name in the folder");
    EXPECT_EQ(ListFolder(dir.path()).find("quillaven"), std::string::npos);  // the temporary went with the failure
    EXPECT_EQ(ErrorOf([&] { PublishOutput(dir.File("missing"), "a", "txt", "x"); }), "Couldn't create the output file");
    OutputTexts pdf{"Couldn't create the PDF file", "Couldn't write the PDF file"};
    EXPECT_EQ(ErrorOf([&] { PublishOutput(dir.File("missing"), "a", "pdf", "x", pdf); }), "Couldn't create the PDF file");
}

TEST(OutputFile, AStemTooLongForTheFileSystemIsShortened) {
    TempDir dir;
    std::string stem;
    for (int i = 0; i < 125; ++i) stem += "\u00e9";  // 250 bytes: with ".txt" just fits
    std::string first = PublishOutput(dir.path(), stem, "txt", "1");
    std::string second = PublishOutput(dir.path(), stem, "txt", "2");
    EXPECT_EQ(FileNameOf(first), stem + ".txt");
    // " (2).txt" leaves 247 bytes, which would split a character: 246 it is.
    EXPECT_EQ(FileNameOf(second), stem.substr(0, 246) + " (2).txt");
    EXPECT_EQ(ReadFile(second), "2");
}

TEST(OutputFile, SimultaneousPublishersNeverShareAName) {
    TempDir dir;
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] { PublishOutput(dir.path(), "c", "txt", std::string(size_t(1000 + i), 'x')); });
    for (std::thread& thread : threads) thread.join();
    std::set<size_t> sizes;
    for (int n = 1; n <= 16; ++n)
        sizes.insert(ReadFile(dir.File(n == 1 ? "c.txt" : "c (" + std::to_string(n) + ").txt")).size());
    EXPECT_EQ(sizes.size(), 16u);  // every file whole and its own
    EXPECT_EQ(*sizes.begin(), 1000u);
    EXPECT_EQ(*sizes.rbegin(), 1015u);
}

TEST(OutputFolder, FilledUnseenAndRenamedIntoPlace) {
    for (unsigned refuse : {0u, unsigned(kNoNoReplace)}) {
        TempDir dir;
        ASSERT_EQ(::mkdir(dir.File("Scan pages").c_str(), 0700), 0);  // taken, even empty
        std::string result = InChild(refuse, [&] {
            {
                OutputFolder abandoned(dir.path(), "Lost pages");
                abandoned.WriteFile("Page 001.png", "p");
                ::mkdir((abandoned.Path() + "/deeper").c_str(), 0700);
            }
            OutputFolder folder(dir.path(), "Scan pages");
            folder.WriteFile("Page 001.png", "one");
            std::string refused = ErrorOf([&] { folder.WriteFile("Page 001.png", "again"); });
            std::string during = Listing(dir.path());
            return refused + "|" + during + " => " + FileNameOf(folder.Publish());
        });
        EXPECT_EQ(result, "Couldn't create the output file|.quillaven-N-N.d|Scan pages => Scan pages (2)") << refuse;
        EXPECT_EQ(ListFolder(dir.path()), "Scan pages|Scan pages (2)") << refuse;
        EXPECT_EQ(ReadFile(dir.File("Scan pages (2)/Page 001.png")), "one") << refuse;
    }
}

TEST(OutputFile, TemporariesOfAKilledProcessAreRemovedAndNothingElse) {
    TempDir dir, outside;
    WriteFile(outside.File("precious"), "keep");
    std::string folder = dir.File(".quillaven-1234-1.d");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0700), 0);
    WriteFile(folder + "/sub/Page 001.png", "p");
    ASSERT_EQ(::symlink(outside.path().c_str(), (folder + "/escape").c_str()), 0);
    ASSERT_EQ(::symlink(outside.File("precious").c_str(), dir.File(".quillaven-1234-2.pdf").c_str()), 0);
    WriteFile(dir.File(".quillaven-1234-0.pdf"), "partial");
    WriteFile(dir.File(".quillaven-12345-0.pdf"), "another process's");
    WriteFile(dir.File("keep.txt"), "mine");
    EXPECT_EQ(RemoveTemporariesOf(dir.path(), 1234), 3u);
    EXPECT_EQ(ListFolder(dir.path()), ".quillaven-12345-0.pdf|keep.txt");
    EXPECT_EQ(ListFolder(outside.path()), "precious");  // links are removed, never followed
    EXPECT_EQ(RemoveTemporariesOf(dir.File("missing"), 1234), 0u);
}
