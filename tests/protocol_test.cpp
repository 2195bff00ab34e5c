#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "protocol.h"

namespace {

// A descriptor whose reads return exactly the given bytes, then end of input.
class MemoryInput {
public:
    explicit MemoryInput(std::string_view bytes) {
        fd_ = ::memfd_create("protocol-test", MFD_CLOEXEC);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t wrote = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (wrote <= 0) break;
            done += static_cast<size_t>(wrote);
        }
        ::lseek(fd_, 0, SEEK_SET);
    }
    ~MemoryInput() { ::close(fd_); }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// A descriptor on which every read returns exactly one of the given packets, so a test
// decides how many reads a line takes.
class PacketInput {
public:
    explicit PacketInput(std::vector<std::string> packets) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return;
        fd_ = pair[0];
        // Written from a thread: more packets than the socket buffer holds may wait.
        writer_ = std::thread([packets = std::move(packets), end = pair[1]] {
            for (const std::string& packet : packets)
                if (::send(end, packet.data(), packet.size(), MSG_NOSIGNAL) < 0) break;
            ::close(end);
        });
    }
    ~PacketInput() {
        ::shutdown(fd_, SHUT_RDWR);
        writer_.join();
        ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::thread writer_;
};

std::vector<std::string> HostLines(const std::vector<std::string>& chunks) {
    HostLineSplitter splitter;
    std::vector<std::string> lines;
    for (const std::string& chunk : chunks)
        splitter.Feed(chunk, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

}  // namespace

TEST(Protocol, RequestForTwoPhotosToSmallJpgs) {
    Target target{kJpg, 65, "small"};
    LimitSettings limits;  // the defaults
    EXPECT_EQ(FormatRequest(target, {"/home/a/one photo.heic", "/home/a/ü.png"}, limits),
              "JPG 65 small\n/home/a/one photo.heic\n/home/a/ü.png\n\nlimits 60 70 1536 4096 2 1 1\n");
}

TEST(Protocol, NegativeOptionAndEmptySuffixInTheHeader) {
    LimitSettings limits{100, 5, 0, 0, 4, false, false};
    EXPECT_EQ(FormatRequest(Target{kPng, -1, "frames"}, {"/v.mp4"}, limits),
              "PNG -1 frames\n/v.mp4\n\nlimits 100 5 0 0 4 0 0\n");
    EXPECT_EQ(FormatRequest(Target{kMd, 0, ""}, {"/a.docx"}, limits).substr(0, 7), "MD 0 -\n");
}

TEST(Protocol, RequestRoundTripsThroughTheWorkerReader) {
    LimitSettings limits{30, 40, 512, 2048, 3, false, true};
    MemoryInput input(FormatRequest(Target{kHevc, 720, ""}, {"/a b/c d.mov", "/x/日本.mp4"}, limits) + "cancel\n");
    LineReader reader(input.fd());
    std::optional<WorkerRequest> request = ReadRequest(reader);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target, (Target{kHevc, 720, ""}));
    EXPECT_EQ(request->inputs, (std::vector<std::string>{"/a b/c d.mov", "/x/日本.mp4"}));
    // What follows the empty line is left for the control thread.
    std::optional<std::string> limitsLine = reader.ReadLine();
    ASSERT_TRUE(limitsLine);
    EXPECT_EQ(ParseLimits(*limitsLine), limits);
    EXPECT_EQ(reader.ReadLine(), "cancel");
    EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(Protocol, HeaderTokensAreExactDisplayTokens) {
    struct Case {
        const char* header;
        int32_t format;
    };
    for (Case c : {Case{"HEVC 0 -", kHevc}, Case{"MP4 0 -", kMp4}, Case{"ALAC 0 -", kAlac}, Case{"png 0 -", 0},
                   Case{"Jpg 0 -", 0}, Case{"JPEG 0 -", 0}, Case{"", 0}}) {
        MemoryInput input(std::string(c.header) + "\n/in.png\n\n");
        LineReader reader(input.fd());
        std::optional<WorkerRequest> request = ReadRequest(reader);
        if (c.format == 0) {
            EXPECT_FALSE(request) << c.header;
        } else {
            ASSERT_TRUE(request) << c.header;
            EXPECT_EQ(request->target.format, c.format) << c.header;
        }
    }
}

TEST(Protocol, RequestNeedsAnInput) {
    {
        MemoryInput input("PNG 0 -\n\nlimits 60 70 1536 4096 2 1 1\n");
        LineReader reader(input.fd());
        EXPECT_FALSE(ReadRequest(reader));
    }
    {
        MemoryInput input("PNG 0 -\n");
        LineReader reader(input.fd());
        EXPECT_FALSE(ReadRequest(reader));
    }
    {
        MemoryInput input("");
        LineReader reader(input.fd());
        EXPECT_FALSE(ReadRequest(reader));
    }
    {
        // The input list may end with the end of input instead of an empty line.
        MemoryInput input("PNG 0 -\r\n/a.bmp\r\n");
        LineReader reader(input.fd());
        std::optional<WorkerRequest> request = ReadRequest(reader);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->inputs, std::vector<std::string>{"/a.bmp"});
    }
}

TEST(Protocol, HeaderWithoutSuffixOrNumber) {
    MemoryInput input("GIF 5\n/a.mp4\n\n");
    LineReader reader(input.fd());
    std::optional<WorkerRequest> request = ReadRequest(reader);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target, (Target{kGif, 5, ""}));
}

TEST(Protocol, RequestKeepsAtMostOneHundredThousandInputs) {
    std::string bytes = "TXT 0 -\n";
    for (int i = 0; i < 100001; ++i) bytes += "/f\n";
    bytes += "\n";
    MemoryInput input(bytes);
    LineReader reader(input.fd());
    std::optional<WorkerRequest> request = ReadRequest(reader);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->inputs.size(), 100000u);
    EXPECT_EQ(reader.ReadLine(), "/f");  // the rest is the control thread's
}

TEST(Protocol, LineReaderDropsOneCarriageReturn) {
    MemoryInput input("a\r\r\nb\rc\n\r\n");
    LineReader reader(input.fd());
    EXPECT_EQ(reader.ReadLine(), "a\r");
    EXPECT_EQ(reader.ReadLine(), "b\rc");
    EXPECT_EQ(reader.ReadLine(), "");
    EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(Protocol, LineReaderLosesAnUnfinishedLastLine) {
    MemoryInput input("whole\npart");
    LineReader reader(input.fd());
    EXPECT_EQ(reader.ReadLine(), "whole");
    EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(Protocol, LineReaderAcceptsLinesUpToOneMebibyte) {
    // 1,048,575 bytes and the line feed arrive in 256 full reads: exactly at the cap.
    std::string line(1048575, 'x');
    MemoryInput input(line + "\nnext\n");
    LineReader reader(input.fd());
    std::optional<std::string> got = reader.ReadLine();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), line.size());
    EXPECT_EQ(reader.ReadLine(), "next");
}

TEST(Protocol, LineReaderGivesUpBeyondOneMebibyte) {
    // After 257 full reads more than 1,048,576 bytes are buffered without a line feed.
    MemoryInput input(std::string(1048577, 'x') + "\nnext\n");
    LineReader reader(input.fd());
    EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(Protocol, LineReaderStopsAtTheTwoHundredFiftyEighthRead) {
    // Tiny reads: the byte cap is never reached, the count of reads is.
    std::vector<std::string> packets(257, "ab");
    packets.push_back("\n");
    PacketInput tooMany(packets);
    LineReader slow(tooMany.fd());
    EXPECT_EQ(slow.ReadLine(), std::nullopt);

    packets.erase(packets.begin());  // 256 pieces and the line feed: 257 reads
    PacketInput enough(packets);
    LineReader fine(enough.fd());
    std::optional<std::string> line = fine.ReadLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->size(), 512u);
}

TEST(Protocol, LineReaderCountsReadsPerLine) {
    // Lines already in the buffer need no read, so many short lines in one read are fine
    // and every line gets its own allowance of reads.
    std::vector<std::string> packets;
    for (int line = 0; line < 3; ++line) {
        for (int i = 0; i < 200; ++i) packets.push_back("z");
        packets.push_back("\n");
    }
    PacketInput input(packets);
    LineReader reader(input.fd());
    for (int line = 0; line < 3; ++line) EXPECT_EQ(reader.ReadLine(), std::string(200, 'z'));
}

TEST(Protocol, LimitsAreClamped) {
    EXPECT_EQ(ParseLimits("limits 1 1000 -5 99999999 9 7 0"), (LimitSettings{5, 100, 0, 4194304, 4, true, false}));
    EXPECT_EQ(ParseLimits("limits 101 4 2000000 -1 0 0 -3"), (LimitSettings{100, 5, 1048576, 0, 1, false, true}));
    EXPECT_EQ(ParseLimits("limits 60 70 1536 4096 2 1 1 and more words"), LimitSettings{});
}

TEST(Protocol, MalformedLimitsLinesAreIgnored) {
    EXPECT_EQ(ParseLimits("limits 60 70 1536 4096 2 1"), std::nullopt);
    EXPECT_EQ(ParseLimits("limits 60 70 1536 4096 2 1 x"), std::nullopt);
    EXPECT_EQ(ParseLimits("limits sixty 70 1536 4096 2 1 1"), std::nullopt);
    EXPECT_EQ(ParseLimits("Limits 60 70 1536 4096 2 1 1"), std::nullopt);
    EXPECT_EQ(ParseLimits("limitsx 60 70 1536 4096 2 1 1"), std::nullopt);
    EXPECT_EQ(ParseLimits("cancel"), std::nullopt);
    EXPECT_EQ(ParseLimits(""), std::nullopt);
    // The values are 32-bit: one that does not fit is a failed extraction, not a huge number.
    EXPECT_EQ(ParseLimits("limits 60 70 1536 3000000000 2 1 1"), std::nullopt);
    EXPECT_EQ(ParseLimits("limits 60 70 1536 4096 2 1 99999999999999999999"), std::nullopt);
}

TEST(Protocol, LimitsLineRoundTrips) {
    LimitSettings limits{25, 90, 4096, 0, 1, true, false};
    std::string line = FormatLimitsLine(limits);
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    EXPECT_EQ(line, "limits 25 90 4096 0 1 1 0");
    EXPECT_EQ(ParseLimits(line), limits);
}

TEST(Protocol, HostSplitterJoinsPiecesAndDropsOneCarriageReturn) {
    EXPECT_EQ(HostLines({"fi", "le 0\r\nprog", "ress 0.5000\n\r\n", "done 0"}),
              (std::vector<std::string>{"file 0", "progress 0.5000", ""}));
    EXPECT_EQ(HostLines({"a\r\r\n"}), std::vector<std::string>{"a\r"});
}

TEST(Protocol, HostSplitterDiscardsAnOverlongUnfinishedLine) {
    // 65,536 waiting bytes are kept; one more and they are dropped, so the tail of the
    // flood arrives as a stray line of its own and later lines are intact.
    EXPECT_EQ(HostLines({"error 0 " + std::string(65536 - 8, 'm'), "\ndone 0\n"}),
              (std::vector<std::string>{"error 0 " + std::string(65536 - 8, 'm'), "done 0"}));
    std::vector<std::string> chunks(20, std::string(4096, 'f'));
    chunks.front().replace(0, 8, "error 0 ");
    chunks.push_back("tail\ndone 0\n");
    std::vector<std::string> lines = HostLines(chunks);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LT(lines[0].size(), 65536u);
    EXPECT_EQ(lines[0].substr(0, 5), "fffff");
    EXPECT_EQ(lines[1], "done 0");
}
