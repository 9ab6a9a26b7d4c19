// kvx-host's outputs take their names last, and never the name of a file that appeared after
// the run's own checks (while the settings were saved): the rename itself refuses it, as
// RENAME_NOREPLACE does natively and MoveFileEx without replacing under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "errors.h"
#include "files/files.h"
#include "files/output_file.h"

namespace kvx {
namespace {

TEST(OutputFile, ATargetCreatedAfterTheChecksIsKept) {
    std::string error;
    const std::string folder = MakePrivateFolder("", "output-file-test-", error);
    ASSERT_FALSE(folder.empty()) << error;
    const std::string target = folder + "/out.yuv";
    const auto createdMeanwhile = [&] {
        FILE* theirs = OpenFile(target, "wb");
        ASSERT_NE(theirs, nullptr);
        std::fputs("theirs", theirs);
        std::fclose(theirs);
    };
    {
        RunOutputs outputs;
        std::fputs("ours", outputs.Add(target, false).Stream());
        EXPECT_THROW(outputs.Commit("", createdMeanwhile), RunError);
    }
    std::string kept;
    EXPECT_TRUE(ReadWholeFile(target, kept));
    EXPECT_EQ(kept, "theirs");
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"out.yuv"});  // the private folder went
    RemoveFile(target);
    RemoveFolder(folder);
}

}  // namespace
}  // namespace kvx
