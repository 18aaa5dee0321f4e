#include "gpu/MetalErrors.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Log.h"

namespace corvantix {
namespace {

struct ErrorCase {
    MetalError error;
    std::string description;
};

void PrintTo(const ErrorCase& c, std::ostream* out) { *out << '"' << c.description << '"'; }

class MetalErrorTextTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(MetalErrorTextTest, DescribesItselfWithTheFixedText)
{
    EXPECT_EQ(GetParam().error.description(), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, MetalErrorTextTest,
    testing::Values(
        ErrorCase{MetalError::shaderLibraryLoadFailed("no such file"), "Failed to load Metal library: no such file"},
        // An empty payload keeps the prefix's trailing blank.
        ErrorCase{MetalError::shaderLibraryLoadFailed(""), "Failed to load Metal library: "},
        ErrorCase{MetalError::shaderFunctionMissing("a, b"), "Metal library missing required function: a, b"},
        ErrorCase{MetalError::shaderSourceMissing("Apple/Metal/Shaders.metal"),
                  "Failed to load Metal shader source: Apple/Metal/Shaders.metal"},
        ErrorCase{MetalError::shaderCompilationFailed("0:1(1): error"),
                  "Failed to compile Metal shader source: 0:1(1): error"},
        ErrorCase{MetalError::pipelineCreationFailed("text/color/cell"),
                  "Failed to create Metal pipeline: text/color/cell"},
        ErrorCase{MetalError::metalKitUnavailable(), "MetalKit is unavailable."},
        ErrorCase{MetalError::deviceUnavailable(), "No Metal device is available."},
        ErrorCase{MetalError::commandQueueUnavailable(), "Failed to create Metal command queue."},
        ErrorCase{MetalError::atlasUnavailable(), "Failed to create the glyph atlas."},
        ErrorCase{MetalError::shaderLibraryMissing(), "Failed to locate a Metal library in bundle resources."},
        ErrorCase{MetalError::samplerUnavailable(), "Failed to create Metal sampler state."}));

TEST(MetalRawValueTest, RefusalReasonsParseOnlyTheirExactNames)
{
    const MetalFrameRefusalReason all[] = {
        MetalFrameRefusalReason::activeFrame, MetalFrameRefusalReason::missingDrawable,
        MetalFrameRefusalReason::missingRenderPassDescriptor, MetalFrameRefusalReason::missingCommandBuffer,
        MetalFrameRefusalReason::missingRenderEncoder};
    for (MetalFrameRefusalReason reason : all)
        EXPECT_EQ(metalFrameRefusalReasonFromRawValue(rawValue(reason)), reason) << rawValue(reason);
    EXPECT_EQ(metalFrameRefusalReasonFromRawValue("missingDrawable"), MetalFrameRefusalReason::missingDrawable);
    for (const char* text : {"MissingDrawable", "missingdrawable", "missingDrawable ", "", "error"})
        EXPECT_EQ(metalFrameRefusalReasonFromRawValue(text), std::nullopt) << '"' << text << '"';
}

TEST(MetalRawValueTest, CommandBufferStatusesFollowThePlatformCodes)
{
    struct Case { std::uint64_t code; MetalTrackedCommandBufferStatus status; const char* name; };
    const Case cases[] = {
        {0, MetalTrackedCommandBufferStatus::notEnqueued, "notEnqueued"},
        {1, MetalTrackedCommandBufferStatus::enqueued, "enqueued"},
        {2, MetalTrackedCommandBufferStatus::committed, "committed"},
        {3, MetalTrackedCommandBufferStatus::scheduled, "scheduled"},
        {4, MetalTrackedCommandBufferStatus::completed, "completed"},
        {5, MetalTrackedCommandBufferStatus::error, "error"},
        {7, MetalTrackedCommandBufferStatus::error, "error"},
        {UINT64_MAX, MetalTrackedCommandBufferStatus::error, "error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(metalTrackedCommandBufferStatus(c.code), c.status) << c.code;
        EXPECT_EQ(rawValue(c.status), c.name);
        EXPECT_EQ(metalTrackedCommandBufferStatusFromRawValue(c.name), c.status);
    }
    EXPECT_EQ(metalTrackedCommandBufferStatusFromRawValue("Completed"), std::nullopt);
}

TEST(MetalRecoveryReportTest, EqualOnlyWhenEveryFieldMatches)
{
    const MetalRendererRecoveryReport base{MetalFrameRefusalReason::activeFrame, 1.0,
                                           MetalTrackedCommandBufferStatus::error, std::nullopt};
    MetalRendererRecoveryReport withError = base;
    withError.commandBufferError = "";
    EXPECT_NE(base, withError); // absent and present-but-empty differ
    MetalRendererRecoveryReport withoutStatus = base;
    withoutStatus.commandBufferStatus.reset();
    EXPECT_NE(base, withoutStatus);
    MetalRendererRecoveryReport otherReason = base;
    otherReason.reason = MetalFrameRefusalReason::missingDrawable;
    EXPECT_NE(base, otherReason);
    EXPECT_EQ(base, (MetalRendererRecoveryReport{MetalFrameRefusalReason::activeFrame, 1.0,
                                                 MetalTrackedCommandBufferStatus::error, std::nullopt}));
}

TEST(MetalProfilingTest, OnlyTheValueOneSwitchesProfilingOn)
{
    struct Case { const char* value; bool enabled; };
    const Case cases[] = {{"1", true}, {nullptr, false}, {"", false}, {"true", false}, {"01", false},
                          {"1 ", false}, {"0", false}, {"yes", false}};
    for (const Case& c : cases)
        EXPECT_EQ(metalProfilingEnabled(c.value), c.enabled) << (c.value ? c.value : "(unset)");
}

TEST(MetalProfilingTest, SignpostWritesOneLineOnlyWhileProfilingIsOn)
{
    std::vector<std::string> lines;
    LogSink previous = setLogSink([&](LogStream, std::string_view line) { lines.emplace_back(line); });
    {
        MetalSignpost signpost("Metal.Draw");
        EXPECT_EQ(signpost.isActive(), metalProfilingEnabled());
        signpost.end();
        signpost.end(); // ended once only
    }
    setLogSink(std::move(previous));
    if (metalProfilingEnabled()) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("[MetalProfile] info: Metal.Draw ", 0), 0u) << lines[0];
    } else {
        EXPECT_TRUE(lines.empty());
    }
}

} // namespace
} // namespace corvantix
