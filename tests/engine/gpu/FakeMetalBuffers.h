// GPU buffers in plain memory for the renderer's headless tests: a buffer that keeps what is
// written to it, and a device that records the lengths asked for and can run out.
#pragma once

#include "gpu/MetalDrawData.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace corvantix::gputest {

// Filled with 0xEE, so bytes past the written records stand out.
struct FakeBuffer final : MetalBuffer {
    std::vector<std::byte> bytes;
    explicit FakeBuffer(std::size_t length) : bytes(length, std::byte{0xEE}) {}
    std::size_t length() const override { return bytes.size(); }
    void replaceContents(std::span<const std::byte> source) override
    {
        std::copy_n(source.begin(), std::min(source.size(), bytes.size()), bytes.begin());
    }
};

struct FakeBufferDevice final : MetalBufferDevice {
    std::vector<std::size_t> made; // lengths of the buffers handed out, in order
    bool exhausted = false;
    std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) override
    {
        if (exhausted)
            return nullptr;
        made.push_back(length);
        return std::make_shared<FakeBuffer>(length);
    }
};

// The records in a buffer, read back as the GPU would.
template <typename Record>
std::vector<Record> recordsIn(const std::shared_ptr<MetalBuffer>& buffer, int count)
{
    std::vector<Record> records(static_cast<std::size_t>(count));
    if (buffer)
        std::memcpy(records.data(), static_cast<FakeBuffer&>(*buffer).bytes.data(), records.size() * sizeof(Record));
    return records;
}

} // namespace corvantix::gputest
