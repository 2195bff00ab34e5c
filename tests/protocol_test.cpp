// The line protocol between a host and its workers, on both sides.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "protocol.h"

namespace {

// A descriptor whose every read returns one of the given packets, so a test decides how many
// reads a line takes; bytes come in reads of 4,096, as from a pipe.
class Input {
public:
    explicit Input(std::vector<std::string> packets) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return;
        fd_ = pair[0];
        writer_ = std::thread([packets = std::move(packets), end = pair[1]] {
            for (const std::string& packet : packets)
                if (::send(end, packet.data(), packet.size(), MSG_NOSIGNAL) < 0) break;
            ::close(end);
        });
    }
    explicit Input(std::string_view bytes) : Input(Chunks(bytes)) {}
    ~Input() {
        ::shutdown(fd_, SHUT_RDWR);
        writer_.join();
        ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    static std::vector<std::string> Chunks(std::string_view bytes) {
        std::vector<std::string> chunks;
        for (size_t start = 0; start < bytes.size(); start += kLineReadChunk)
            chunks.emplace_back(bytes.substr(start, kLineReadChunk));
        return chunks;
    }
    int fd_ = -1;
    std::thread writer_;
};

std::vector<std::string> HostLines(const std::vector<std::string>& chunks) {
    HostLineSplitter splitter;
    std::vector<std::string> lines;
    for (const std::string& chunk : chunks) splitter.Feed(chunk, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

}  // namespace

TEST(Protocol, RequestIsWrittenAndReadBack) {
    EXPECT_EQ(FormatRequest(Target{kJpg, 65, "small"}, {"/home/a/one photo.heic", "/home/a/ü.png"}, LimitSettings{}),
              "JPG 65 small\n/home/a/one photo.heic\n/home/a/ü.png\n\nlimits 60 70 1536 4096 2 1 1\n");
    LimitSettings limits{30, 40, 512, 2048, 3, false, true};
    EXPECT_EQ(FormatRequest(Target{kPng, -1, ""}, {"/v.mp4"}, limits), "PNG -1 -\n/v.mp4\n\nlimits 30 40 512 2048 3 0 1\n");

    Input input(FormatRequest(Target{kHevc, 720, "720p"}, {"/a b/c d.mov", "/x/日本.mp4"}, limits) + "cancel\n");
    LineReader reader(input.fd());
    std::optional<WorkerRequest> request = ReadRequest(reader);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target, (Target{kHevc, 720, "720p"}));
    EXPECT_EQ(request->inputs, (std::vector<std::string>{"/a b/c d.mov", "/x/日本.mp4"}));
    // What follows the empty line is left for the control thread.
    EXPECT_EQ(ParseLimits(reader.ReadLine().value_or("")), limits);
    EXPECT_EQ(reader.ReadLine(), "cancel");
    EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(Protocol, RequestsTheWorkerAcceptsOrRefuses) {
    const std::pair<std::string, Target> cases[] = {  // format 0: refused
        {"MP4 0 -\n/in\n\n", {kMp4, 0, ""}}, {"GIF 5\n/a.mp4\n\n", {kGif, 5, ""}},  // no suffix word
        {"PNG 0 -\r\n/a.bmp\r\n", {kPng, 0, ""}},  // the list may end with the input
        {"png 0 -\n/in\n\n", {}}, {"Jpg 0 -\n/in\n\n", {}}, {"JPEG 0 -\n/in\n\n", {}},  // display tokens are exact
        {"PNG 0 -\n\nlimits 60 70 1536 4096 2 1 1\n", {}}, {"PNG 0 -\n", {}}, {"", {}}};  // no input
    for (const auto& [bytes, target] : cases) {
        Input input(bytes);
        LineReader reader(input.fd());
        std::optional<WorkerRequest> request = ReadRequest(reader);
        EXPECT_EQ(request ? request->target : Target{}, target) << bytes;
        EXPECT_EQ(request ? request->inputs.size() : 1u, 1u) << bytes;
    }
}

TEST(Protocol, RequestKeepsAtMostOneHundredThousandInputs) {
    std::string bytes = "TXT 0 -\n";
    for (int i = 0; i < 100001; ++i) bytes += "/f\n";
    Input input(bytes + "\n");
    LineReader reader(input.fd());
    std::optional<WorkerRequest> request = ReadRequest(reader);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->inputs.size(), 100000u);
    EXPECT_EQ(reader.ReadLine(), "/f");  // the rest is the control thread's
}

TEST(Protocol, LineReaderEndsAndCaps) {
    Input ends("a\r\r\nb\rc\n\r\nwhole\npart");
    LineReader reader(ends.fd());
    for (const char* expected : {"a\r", "b\rc", "", "whole"}) EXPECT_EQ(reader.ReadLine(), expected);
    EXPECT_EQ(reader.ReadLine(), std::nullopt);  // an unfinished last line is lost
    // 1,048,575 bytes and the line feed arrive in 256 full reads: exactly at the cap.
    Input atCap(std::string(1048575, 'x') + "\nnext\n");
    LineReader fits(atCap.fd());
    EXPECT_EQ(fits.ReadLine().value_or("").size(), 1048575u);
    EXPECT_EQ(fits.ReadLine(), "next");
    // After 257 full reads more than 1,048,576 bytes are buffered without a line feed.
    Input past(std::string(1048577, 'x') + "\nnext\n");
    EXPECT_EQ(LineReader(past.fd()).ReadLine(), std::nullopt);

    // Tiny reads never reach the byte cap; 257 of them and the line feed are one read too many.
    std::vector<std::string> packets(257, "ab");
    packets.push_back("\n");
    Input tooMany(packets);
    EXPECT_EQ(LineReader(tooMany.fd()).ReadLine(), std::nullopt);
    packets.erase(packets.begin());
    Input enough(packets);
    EXPECT_EQ(LineReader(enough.fd()).ReadLine().value_or("").size(), 512u);
    // Every line has its own allowance: three lines of 200 reads each.
    std::vector<std::string> slow;
    for (int i = 0; i < 603; ++i) slow.push_back(i % 201 == 200 ? "\n" : "z");
    Input three(slow);
    LineReader each(three.fd());
    for (int line = 0; line < 3; ++line) EXPECT_EQ(each.ReadLine(), std::string(200, 'z'));
}

TEST(Protocol, LimitsLinesAreClampedOrIgnored) {
    EXPECT_EQ(ParseLimits("limits 1 1000 -5 99999999 9 7 0"), (LimitSettings{5, 100, 0, 4194304, 4, true, false}));
    EXPECT_EQ(ParseLimits("limits 101 4 2000000 -1 0 0 -3"), (LimitSettings{100, 5, 1048576, 0, 1, false, true}));
    EXPECT_EQ(ParseLimits("limits 60 70 1536 4096 2 1 1 and more words"), LimitSettings{});
    for (const char* line : {"limits 60 70 1536 4096 2 1", "limits 60 70 1536 4096 2 1 x", "cancel", "",
                             "limits sixty 70 1536 4096 2 1 1", "Limits 60 70 1536 4096 2 1 1", "limitsx 60 70 1536 4096 2 1 1",
                             // 32-bit values: one that does not fit fails instead of wrapping
                             "limits 60 70 1536 3000000000 2 1 1", "limits 60 70 1536 4096 2 1 99999999999999999999"})
        EXPECT_EQ(ParseLimits(line), std::nullopt) << line;
}

TEST(Protocol, HostSplitterJoinsPiecesAndDropsAnOverlongUnfinishedLine) {
    EXPECT_EQ(HostLines({"fi", "le 0\r\nprog", "ress 0.5000\n\r\n", "a\r\r\n", "done 0"}),
              (std::vector<std::string>{"file 0", "progress 0.5000", "", "a\r"}));
    // 65,536 waiting bytes are kept; one more and they are dropped, so the rest of such a
    // flood arrives as a stray line of its own and later lines are intact.
    std::string flood = "error 0 " + std::string(65536 - 8, 'm');
    EXPECT_EQ(HostLines({flood, "\ndone 0\n"}), (std::vector<std::string>{flood, "done 0"}));
    EXPECT_EQ(HostLines({flood + "m", "tail\ndone 0\n"}), (std::vector<std::string>{"tail", "done 0"}));
}
