// The rules that turn a worker's lines into a job's progress, outputs and status,
// checked without any process.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "job_lines.h"

namespace {

struct WorkerRun {
    Job job;
    RunOutcome outcome;

    explicit WorkerRun(size_t files) {
        for (size_t i = 0; i < files; ++i) job.files.push_back("/in/" + std::to_string(i) + ".png");
        outcome.total = files;
    }
    WorkerRun& Lines(std::initializer_list<const char*> lines) {
        for (const char* line : lines) ApplyWorkerLine(line, outcome, job);
        return *this;
    }
    WorkerRun& Finish(int exitCode = 0, int32_t ramMB = 4096) {
        FinishJob(job, outcome, exitCode, ramMB);
        return *this;
    }
    int32_t state() const { return job.state.load(); }
    float progress() const { return job.progress.load(); }
};

}  // namespace

TEST(JobLines, AllOfSeveralFiles) {
    WorkerRun run(3);
    run.Lines({"file 0", "output /o/a.md", "done 0", "file 1", "output /o/b.md", "done 1", "file 2", "output /o/c.md",
               "done 2"})
        .Finish();
    EXPECT_EQ(run.job.status, "3 files converted");
    EXPECT_EQ(run.job.outputs.size(), 3u);
}

TEST(JobLines, ErrorWithoutMessage) {
    WorkerRun run(1);
    run.Lines({"file 0", "error 0"}).Finish();
    EXPECT_EQ(run.job.status, "Conversion failed");
    WorkerRun spaced(1);
    spaced.Lines({"file 0", "error 0 "}).Finish();
    EXPECT_EQ(spaced.job.status, "Conversion failed");
    WorkerRun noIndex(1);
    noIndex.Lines({"error"}).Finish();
    EXPECT_EQ(noIndex.job.status, "Conversion failed");
}

TEST(JobLines, MessageKeepsItsSpaces) {
    WorkerRun run(1);
    run.Lines({"error 0  two  spaces "}).Finish();
    EXPECT_EQ(run.job.status, " two  spaces ");
}

TEST(JobLines, WorkerThatStoppedEarly) {
    // Nothing succeeded, files were left and the exit code is not 0: the RAM limit is the
    // likely cause when one is set.
    WorkerRun limited(2);
    limited.Lines({"file 0", "error 0 Broken file", "file 1"}).Finish(137, 4096);
    EXPECT_EQ(limited.state(), kJobFailed);
    EXPECT_EQ(limited.job.status, "Stopped: the RAM limit in Settings was exceeded");
    WorkerRun unlimited(2);
    unlimited.Lines({"file 0"}).Finish(139, 0);
    EXPECT_EQ(unlimited.job.status, "The conversion stopped unexpectedly");
    // A worker that ended with 0 without reporting is just a failure.
    WorkerRun quiet(2);
    quiet.Lines({"file 0"}).Finish(0, 4096);
    EXPECT_EQ(quiet.job.status, "Conversion failed");
    // Every file was reported: the crash afterwards does not hide the real error.
    WorkerRun reported(1);
    reported.Lines({"file 0", "error 0 Couldn't open this image"}).Finish(134, 4096);
    EXPECT_EQ(reported.job.status, "Couldn't open this image");
}

TEST(JobLines, CancelledRuns) {
    WorkerRun said(2);
    said.Lines({"file 0", "cancelled"}).Finish();
    EXPECT_EQ(said.state(), kJobCancelled);
    EXPECT_EQ(said.job.status, "Cancelled");

    // A cancel request with files left ends as cancelled even when one file succeeded.
    WorkerRun requested(2);
    requested.job.cancelRequested = true;
    requested.Lines({"file 0", "done 0"}).Finish();
    EXPECT_EQ(requested.job.status, "Cancelled");

    // When every file was done before the cancel mattered, the job succeeded.
    WorkerRun late(1);
    late.job.cancelRequested = true;
    late.Lines({"file 0", "output /o/x.txt", "done 0"}).Finish();
    EXPECT_EQ(late.state(), kJobSucceeded);
    EXPECT_EQ(late.job.status, "Saved as x.txt");

    // A killed worker counts as cancelled whatever it had done.
    WorkerRun killed(1);
    killed.job.cancelRequested = true;
    killed.Lines({"file 0", "done 0"});
    killed.outcome.cancelled = true;
    killed.Finish(137);
    EXPECT_EQ(killed.job.status, "Cancelled");
}

TEST(JobLines, FileIndexIsCappedToTheLastFile) {
    WorkerRun run(3);
    run.Lines({"file 7", "progress 0.5"});
    EXPECT_EQ(run.outcome.index, 2u);
    EXPECT_FLOAT_EQ(run.progress(), 2.5f / 3);
    run.Lines({"file 99999999999999999999999999", "progress 0"});
    EXPECT_EQ(run.outcome.index, 2u);
    run.Lines({"file 1", "progress 0"});
    EXPECT_EQ(run.outcome.index, 1u);
    run.Lines({"file x", "progress 0"});
    EXPECT_EQ(run.outcome.index, 0u);
    EXPECT_EQ(run.progress(), 0.0f);
}

TEST(JobLines, ProgressOfSeveralFiles) {
    WorkerRun run(4);
    run.Lines({"file 1", "progress 0.5000"});
    EXPECT_FLOAT_EQ(run.progress(), 1.5f / 4);
    run.Lines({"progress 1.5"});  // counts as 1
    EXPECT_FLOAT_EQ(run.progress(), 2.0f / 4);
    run.Lines({"progress -1.0000"});  // unmeasured: where the file starts
    EXPECT_FLOAT_EQ(run.progress(), 1.0f / 4);
}

TEST(JobLines, ProgressOfOneFile) {
    WorkerRun run(1);
    run.Lines({"file 0", "progress 0.2500"});
    EXPECT_FLOAT_EQ(run.progress(), 0.25f);
    run.Lines({"progress 1.5"});
    EXPECT_FLOAT_EQ(run.progress(), 1.0f);
    run.Lines({"progress -1"});
    EXPECT_EQ(run.progress(), -1.0f);
    run.Lines({"progress 0.0000"});
    EXPECT_EQ(run.progress(), 0.0f);
}

TEST(JobLines, ProgressThatIsNoNumber) {
    WorkerRun run(1);
    run.Lines({"progress 0.5", "progress nan"});
    EXPECT_EQ(run.progress(), -1.0f);  // no measure, never a NaN on the panel
    run.Lines({"progress inf"});
    EXPECT_EQ(run.progress(), 1.0f);
    run.Lines({"progress", "progress junk"});
    EXPECT_EQ(run.progress(), 0.0f);
}

TEST(JobLines, UnknownAndIgnoredLines) {
    WorkerRun run(2);
    run.Lines({"", "hello world", "File 1", "DONE 0", "done", "done 5", "output", "  done 0"});
    // Only the two bare "done" lines count, whatever their index says.
    EXPECT_EQ(run.outcome.succeeded, 2u);
    EXPECT_EQ(run.outcome.index, 0u);
    EXPECT_EQ(run.job.outputs, std::vector<std::string>{""});
}

TEST(JobLines, CountsNeverPassTheNumberOfFiles) {
    // A confused worker repeating "done" cannot make "5 of 3 converted".
    WorkerRun run(3);
    run.Lines({"done 0", "done 0", "done 0", "done 0", "error 0 x"}).Finish();
    EXPECT_EQ(run.outcome.succeeded, 3u);
    EXPECT_EQ(run.outcome.finished, 3u);
    EXPECT_EQ(run.job.status, "3 files converted");
}

TEST(JobLines, OutputLongerThanAnyPathIsIgnored) {
    WorkerRun run(1);
    ApplyWorkerLine("output /" + std::string(4095, 'p'), run.outcome, run.job);
    ApplyWorkerLine("output /" + std::string(4096, 'p'), run.outcome, run.job);
    ASSERT_EQ(run.job.outputs.size(), 1u);
    EXPECT_EQ(run.job.outputs[0].size(), 4096u);
}

TEST(JobLines, OutputsAreCapped) {
    WorkerRun run(1);
    for (size_t i = 0; i < kMaxJobOutputs + 5; ++i) ApplyWorkerLine("output /o/f", run.outcome, run.job);
    EXPECT_EQ(run.job.outputs.size(), kMaxJobOutputs);
}

TEST(MakeJob, TitleSubtitleAndGlyph) {
    auto single = MakeJob({"/home/u/Photos/IMG 1.heic"}, Target{kJpg, 90, ""}, "JPG");
    EXPECT_EQ(single->title, "IMG 1.heic");
    EXPECT_EQ(single->subtitle, "HEIC \u2192 JPG");
    EXPECT_EQ(single->glyph, kGlyphImage);
    EXPECT_EQ(single->state.load(), kJobQueued);
    EXPECT_EQ(single->progress.load(), 0.0f);

    auto several = MakeJob({"/a/x.MOV", "/a/y.mp4"}, Target{kMp4, 720, "720p"}, "720p");
    EXPECT_EQ(several->title, "2 files");
    EXPECT_EQ(several->subtitle, "MOV \u2192 MP4 720p");
    EXPECT_EQ(several->glyph, kGlyphVideo);

    EXPECT_EQ(MakeJob({"/a/song.flac"}, Target{kAiff, 0, ""})->glyph, kGlyphAudio);
    EXPECT_EQ(MakeJob({"/a/song.flac"}, Target{kAiff, 0, ""})->subtitle, "FLAC \u2192 AIFF");
    EXPECT_EQ(MakeJob({"/a/doc.docx"}, Target{kPdf, 0, ""}, "PDF")->glyph, kGlyphDocument);
    EXPECT_EQ(MakeJob({"/a/noext"}, Target{kTxt, 0, ""})->subtitle, " \u2192 TXT");
    // Format ranges end exactly where the glyphs change.
    EXPECT_EQ(MakeJob({"/a"}, Target{kSvg, 0, ""})->glyph, kGlyphImage);
    EXPECT_EQ(MakeJob({"/a"}, Target{k3gp, 0, ""})->glyph, kGlyphVideo);
    EXPECT_EQ(MakeJob({"/a"}, Target{kMp3, 0, ""})->glyph, kGlyphAudio);
    EXPECT_EQ(MakeJob({"/a"}, Target{kAiff, 0, ""})->glyph, kGlyphAudio);
    EXPECT_EQ(MakeJob({"/a"}, Target{0, 0, ""})->glyph, kGlyphDocument);
}
