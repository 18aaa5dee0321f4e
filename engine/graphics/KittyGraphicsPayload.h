// The data of one transmitted image and the ways it arrives: in the command itself, in a
// file, in a temporary file removed after reading, or in a shared-memory object; optionally
// deflated; as raw RGB, raw RGBA or PNG.
#pragma once

#include "graphics/KittyGraphicsControl.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace corvantix {

struct KittyGraphicsPayload {
    enum class Kind : std::uint8_t { png, rgba };

    Kind kind = Kind::rgba;
    std::vector<std::uint8_t> bytes; // png: the encoded image as received; rgba: 4 bytes a pixel
    int width = 0;                   // png: as its header gives it
    int height = 0;

    std::int64_t byteSize() const { return static_cast<std::int64_t>(bytes.size()); }
};

// No run of bytes (decoded, read, inflated or converted) may be longer than this.
inline constexpr std::size_t kittyMaximumPayloadBytes = 419'430'400;
// The base64 text of kittyMaximumPayloadBytes: the most a chunked transmission may gather.
inline constexpr std::size_t kittyMaximumPendingBase64Bytes = 559'240'536;
// Each side of an image, in pixels.
inline constexpr int kittyMaximumImageSide = 10'000;

// Standard base64 that skips every byte outside the alphabet (line breaks, spaces, padding);
// none when the characters left cannot form whole bytes.
std::optional<std::vector<std::uint8_t>> decodeKittyBase64(std::span<const std::uint8_t> text);

// The same decoding fed in pieces: the text need not be in one buffer.
class KittyBase64Decoder {
public:
    // `expectedTextSize` only reserves the output.
    explicit KittyBase64Decoder(std::size_t expectedTextSize = 0);
    void feed(std::span<const std::uint8_t> text);
    // None when the characters fed cannot form whole bytes.
    std::optional<std::vector<std::uint8_t>> finish();

private:
    std::vector<std::uint8_t> out_;
    std::uint32_t accumulator_ = 0;
    int bits_ = 0;
    std::size_t characters_ = 0;
};

// The medium named by t. The variant holds either the image or the error text to reply
// with; none means "EINVAL: bad payload".
using KittyPayloadResult = std::variant<KittyGraphicsPayload, std::string>;
std::optional<KittyPayloadResult> loadKittyPayload(const KittyGraphicsControl& control,
                                                   std::span<const std::uint8_t> payload);

std::optional<KittyGraphicsPayload> decodeKittyDirectPayload(const KittyGraphicsControl& control,
                                                             std::span<const std::uint8_t> payload);
// The same from payload text already decoded.
std::optional<KittyGraphicsPayload> decodeKittyDirectBytes(const KittyGraphicsControl& control,
                                                           std::vector<std::uint8_t> decoded);
KittyPayloadResult readKittyFile(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload,
                                 bool temporary);
KittyPayloadResult readKittySharedMemory(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload);

// o absent passes the data through, o=z inflates, any other letter fails. The output of
// raw pixel formats is bounded by the size the pixels need.
std::optional<std::vector<std::uint8_t>> decompressKittyPayload(const KittyGraphicsControl& control,
                                                                std::vector<std::uint8_t> data);
// Inflates zlib-wrapped data (recognised by its two-byte header) or raw DEFLATE; stops with a
// failure as soon as the output passes `limit` bytes, and fails on a truncated stream. With
// `sizeKnown` the output is made `limit` bytes at once (the output may still be shorter).
std::optional<std::vector<std::uint8_t>> inflateKittyPayload(std::span<const std::uint8_t> data,
                                                             std::size_t limit = kittyMaximumPayloadBytes,
                                                             bool sizeKnown = false);
// f=24 and f=32 become RGBA of s x v pixels; f=100 stays encoded once its size is known.
std::optional<KittyGraphicsPayload> decodeKittyPixels(const KittyGraphicsControl& control,
                                                      std::vector<std::uint8_t> data);

// Whether `path` is `directory` or lies under it, compared by whole components.
bool isPathInDirectory(std::string_view path, std::string_view directory);
// A POSIX shared-memory name as a program may give it: one leading "/" at most, no other "/",
// not "." or "..", 1 to 255 bytes besides that "/".
bool isValidSharedMemoryName(std::string_view name);

} // namespace corvantix
