// Replays the inputs the fuzz target once stopped on (tests/engine/data/fuzz) and its seed
// corpus (fuzz/corpus) through the same driver the fuzz target uses: every input must run
// without a sanitizer report and keep the screen model's invariants.
//
// Saved inputs, one file each:
//   wide-half-overwritten       a narrow character written over one half of a wide one
//   wide-cell-cut-by-narrowing  a resize to three columns cuts the cursor's line inside a
//                               wide character
// Both leave a wide cell without its placeholder, which the buffer allows; the checker
// once took that for a fault.
//   image-lines-after-resize    Kitty placements on the alternate screen, then resizes that
//                               drop rows holding them: the count of lines with images
//                               must follow
#include "../../../fuzz/TerminalFuzzDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace corvantix {
namespace {

namespace fs = std::filesystem;

#ifndef HALVOREN_SOURCE_DIR
#error "HALVOREN_SOURCE_DIR must name the source tree"
#endif

// The build names the source tree: __FILE__ may be relative to the build folder (a compiler
// cache rewrites it so), and the tests run in another folder.
const fs::path sourceRoot = HALVOREN_SOURCE_DIR;

std::vector<fs::path> inputsIn(const fs::path& directory)
{
    std::vector<fs::path> files;
    if (fs::is_directory(directory)) {
        for (const auto& entry : fs::directory_iterator(directory)) {
            if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void replayAll(const std::vector<fs::path>& files)
{
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const auto run = fuzz::runFuzzInput(readFile(file));
        EXPECT_EQ(run.violation, std::nullopt);
    }
}

TEST(FuzzRegression, SavedFindingsKeepTheInvariants)
{
    const auto files = inputsIn(sourceRoot / "tests/engine/data/fuzz");
    ASSERT_FALSE(files.empty()) << "no saved inputs in tests/engine/data/fuzz";
    replayAll(files);
}

TEST(FuzzRegression, SeedCorpusKeepsTheInvariants)
{
    const auto files = inputsIn(sourceRoot / "fuzz/corpus");
    ASSERT_GE(files.size(), 7u) << "the seed corpus is missing";
    replayAll(files);
}

// The checker itself must see a broken cell, or a clean replay would prove nothing.
TEST(FuzzRegression, CheckerReportsBrokenCellsAndCursor)
{
    TerminalOptions options;
    options.cols = 10;
    options.rows = 3;
    Terminal terminal(nullptr, options);
    terminal.feed(std::string_view("ab\xe4\xb8\xad"));
    EXPECT_EQ(fuzz::checkInvariants(terminal), std::nullopt);
    BufferLine& line = *terminal.buffer().lines()[terminal.buffer().yBase()];
    const CharData placeholder = line.getCell(3);
    CharData placeholderWithCode = placeholder;
    placeholderWithCode.code = 'x';
    line.setCell(3, placeholderWithCode);
    EXPECT_NE(fuzz::checkInvariants(terminal), std::nullopt);
    line.setCell(3, placeholder);
    const CharData kept = line.getCell(0);
    CharData tooWide = kept;
    tooWide.width = 3;
    line.setCell(0, tooWide);
    EXPECT_NE(fuzz::checkInvariants(terminal), std::nullopt);
    line.setCell(0, kept);
    terminal.buffer().setX(11); // one past the pending-wrap column
    EXPECT_NE(fuzz::checkInvariants(terminal), std::nullopt);
}

} // namespace
} // namespace corvantix
