// The rules that turn a worker's lines into a job's progress, outputs and status,
// checked without any process.
#include <gtest/gtest.h>

#include "convert/core/text.h"
#include "job_lines.h"

namespace {

struct WorkerRun {
    Job job;
    RunOutcome outcome;

    explicit WorkerRun(size_t files, std::string_view lines = "") {
        job.files.assign(files, "/in/a.png");
        outcome.total = files;
        Lines(lines);
    }
    WorkerRun& Lines(std::string_view lines) {
        for (const std::string& line : Split(lines, '\n')) ApplyWorkerLine(line, outcome, job);
        return *this;
    }
    float Progress(std::string_view lines) { return Lines(lines).job.progress.load(); }
};

}  // namespace

TEST(JobLines, FinalStatus) {
    const std::string ram = "Stopped: the RAM limit in Settings was exceeded";
    struct Case {  // files in the job, the worker's lines, its exit code, a recorded memory kill, a cancel request; the outcome
        size_t files; std::string lines; int exitCode; bool memoryKill; bool cancel; std::string status; int32_t state;
    };
    const Case cases[] = {
        {1, "file 0\noutput /o/cat (2).jpg\ndone 0", 0, false, false, "Saved as cat (2).jpg", kJobSucceeded},
        {1, "done 0", 0, false, false, "1 files converted", kJobSucceeded},
        {3, "done 0\nerror 1 Couldn't open this document\ndone 2", 0, false, false, "2 of 3 converted", kJobSucceeded},
        {3, "done 0\ndone 0\ndone 0\ndone 0\nerror 0 x", 0, false, false, "3 files converted", kJobSucceeded},  // not "4 of 3"
        {2, "error 0 First\nerror 1 Too many pages (2000 max)", 0, false, false, "Too many pages (2000 max)", kJobFailed},
        {1, "error 0  two  spaces ", 0, false, false, " two  spaces ", kJobFailed},
        {1, "error 0 ", 0, false, false, "Conversion failed", kJobFailed},
        {1, "error", 0, false, false, "Conversion failed", kJobFailed},
        // Ended early with files left: the RAM limit only when the memory controller killed.
        {2, "error 0 Broken file\nfile 1", 137, true, false, ram, kJobFailed},
        {2, "file 0", 139, false, false, "The conversion stopped unexpectedly", kJobFailed},
        {2, "file 0", 0, true, false, "Conversion failed", kJobFailed},
        {1, "error 0 Couldn't open this image", 134, true, false, "Couldn't open this image", kJobFailed},  // all reported
        {2, "file 0\ncancelled", 0, false, false, "Cancelled", kJobCancelled},
        {2, "done 0", 0, false, true, "Cancelled", kJobCancelled},  // files were left when the cancel came
        {1, "output /o/x.txt\ndone 0", 0, false, true, "Saved as x.txt", kJobSucceeded},  // nothing was left
    };
    for (const Case& c : cases) {
        WorkerRun run(c.files);
        run.job.cancelRequested = c.cancel;
        FinishJob(run.job, run.Lines(c.lines).outcome, c.exitCode, c.memoryKill);
        EXPECT_EQ(run.job.status, c.status) << c.lines;
        EXPECT_EQ(run.job.state.load(), c.state) << c.lines;
        EXPECT_TRUE(c.state != kJobSucceeded || run.job.progress.load() == 1.0f) << c.lines;
    }
}

TEST(JobLines, Progress) {
    WorkerRun four(4);
    EXPECT_FLOAT_EQ(four.Progress("file 1\nprogress 0.5000"), 1.5f / 4);
    EXPECT_FLOAT_EQ(four.Progress("progress 1.5"), 2.0f / 4);      // counts as 1
    EXPECT_FLOAT_EQ(four.Progress("progress -1.0000"), 1.0f / 4);  // unmeasured: where the file starts
    EXPECT_FLOAT_EQ(four.Progress("file 7\nprogress 0.5"), 3.5f / 4);  // the index is capped to the last file
    EXPECT_FLOAT_EQ(four.Progress("file 99999999999999999999999999\nprogress 0"), 3.0f / 4);
    EXPECT_EQ(four.Progress("file x\nprogress 0"), 0.0f);
    WorkerRun one(1);
    EXPECT_FLOAT_EQ(one.Progress("progress 0.2500"), 0.25f);
    EXPECT_EQ(one.Progress("progress 1.5"), 1.0f);
    EXPECT_EQ(one.Progress("progress -1"), -1.0f);   // one file without a measure
    EXPECT_EQ(one.Progress("progress nan"), -1.0f);  // never a NaN on the panel
    EXPECT_EQ(one.Progress("progress inf"), 1.0f);
    EXPECT_EQ(one.Progress("progress junk"), 0.0f);
}

TEST(JobLines, OtherLinesAreIgnoredAndOutputsBounded) {
    WorkerRun run(2, "\nhello world\nFile 1\nDONE 0\ndone\ndone 5\noutput\n  done 0");
    EXPECT_EQ(run.outcome.succeeded, 2u);  // the two "done" lines, whatever their index says
    EXPECT_EQ(run.outcome.index, 0u);
    EXPECT_EQ(run.job.outputs, std::vector<std::string>{""});
    // No path is longer than 4,096 bytes, and a runaway worker cannot exhaust the host.
    run.Lines("output /" + std::string(4095, 'p') + "\noutput /" + std::string(4096, 'p'));
    ASSERT_EQ(run.job.outputs.size(), 2u);
    EXPECT_EQ(run.job.outputs[1].size(), 4096u);
    for (size_t i = 0; i < kMaxJobOutputs; ++i) ApplyWorkerLine("output /o/f", run.outcome, run.job);
    EXPECT_EQ(run.job.outputs.size(), kMaxJobOutputs);
}

TEST(MakeJob, TitleSubtitleAndGlyph) {
    auto single = MakeJob({"/home/u/Photos/IMG 1.heic"}, Target{kJpg, 90, ""}, "JPG");
    EXPECT_EQ(single->title + " | " + single->subtitle, "IMG 1.heic | HEIC \u2192 JPG");
    auto several = MakeJob({"/a/x.MOV", "/a/y.mp4"}, Target{kMp4, 720, "720p"}, "720p");
    EXPECT_EQ(several->title + " | " + several->subtitle, "2 files | MOV \u2192 MP4 720p");
    // The glyphs change exactly where the format families do.
    const std::pair<int32_t, char16_t> glyphs[] = {{kSvg, kGlyphImage}, {kMp4, kGlyphVideo}, {k3gp, kGlyphVideo},
                                                   {kMp3, kGlyphAudio}, {kAiff, kGlyphAudio}, {kPdf, kGlyphDocument}};
    for (auto [format, glyph] : glyphs) EXPECT_EQ(MakeJob({"/a"}, Target{format, 0, ""})->glyph, glyph) << format;
}
