#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CDownloadTaskManager.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const fs::path kGolden = fs::path(KV_SOURCE_DIR) / "tests/src/fixtures/interrupted.exe.xml";

// The task file of an interrupted download is read by whatever version resumes it. The golden
// file was written once by the writer of its day: every later version must read it the same and
// write the same bytes back.
TEST(TaskFile, GoldenFileReadsBackAndWritesTheSameBytes) {
    kvtest::TempDir dir;
    const fs::path taskFile = dir.path() / "interrupted.exe.xml";
    fs::copy_file(kGolden, taskFile);
    CDownloadTaskManager m("https://dl.kestrova.example/interrupted.exe",
                           (dir.path() / "interrupted.exe").string(), taskFile.string());
    ASSERT_TRUE(m.readDownloadTask());
    EXPECT_EQ(m.TasksCount, 3);
    EXPECT_EQ(m.ContentLength, 2 * kTaskSize + 4096);
    EXPECT_EQ(m.DownloadTime, 5320);
    EXPECT_EQ(m.ETag, "\"5f3a-2b\"");
    EXPECT_EQ(m.LastModified, "Tue, 08 Dec 2026 10:00:00 GMT");
    struct Row {
        int32_t id;
        int64_t start;
        int64_t end;
        int64_t written;
        int32_t status;
    };
    // A finished task, one a worker returned half done, one still waiting.
    const Row rows[] = {
        {1, 0, kTaskSize - 1, kTaskSize - 1, 1},
        {2, kTaskSize, 2 * kTaskSize - 1, kTaskSize + 1000, 2},
        {3, 2 * kTaskSize, 2 * kTaskSize + 4096, 2 * kTaskSize, 0},
    };
    ASSERT_EQ(m.tasks().size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const DownloadTask& t = *m.tasks()[i];
        EXPECT_EQ(t.TaskId, rows[i].id) << i;
        EXPECT_EQ(t.StartPos, rows[i].start) << i;
        EXPECT_EQ(t.EndPos, rows[i].end) << i;
        EXPECT_EQ(t.WrittenPos.load(), rows[i].written) << i;
        EXPECT_EQ(t.TaskStatus.load(), rows[i].status) << i;
        EXPECT_EQ(t.RemotePath, "https://dl.kestrova.example/interrupted.exe") << i;
        EXPECT_EQ(t.LocalPath, "/tmp/kv/interrupted.exe") << i;
    }
    m.saveDownloadTask();
    EXPECT_EQ(kvtest::readFile(taskFile), kvtest::readFile(kGolden));
}

}  // namespace
