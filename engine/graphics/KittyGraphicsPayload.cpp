#include "graphics/KittyGraphicsPayload.h"

#include "graphics/PngImage.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace corvantix {

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string badPayload = "EINVAL: bad payload";
const std::string badPath = "EINVAL: bad path";
const std::string badTempPath = "EINVAL: bad temp path";

// Each read of a file takes at most this much.
constexpr std::size_t readPiece = 4096;
// Each inflation step offers this much output room.
constexpr std::size_t inflateStep = 65536;
// The longest resolved path accepted.
constexpr std::size_t maximumPathLength = 4095;

int base64Value(std::uint8_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool isValidUtf8(std::span<const std::uint8_t> bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        int extra = 0;
        char32_t scalar = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            scalar = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            scalar = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            scalar = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - i <= static_cast<std::size_t>(extra))
            return false;
        for (int k = 1; k <= extra; ++k) {
            const std::uint8_t next = bytes[i + static_cast<std::size_t>(k)];
            if ((next & 0xC0) != 0x80)
                return false;
            scalar = (scalar << 6) | (next & 0x3F);
        }
        static constexpr std::array<char32_t, 4> smallest{0, 0x80, 0x800, 0x10000};
        if (scalar < smallest[static_cast<std::size_t>(extra)] || scalar > 0x10FFFF
            || (scalar >= 0xD800 && scalar <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// The base64 payload as a name or path: non-empty, no zero byte, valid UTF-8.
std::optional<std::string> decodeName(std::span<const std::uint8_t> payload)
{
    auto decoded = decodeKittyBase64(payload);
    if (!decoded || decoded->empty())
        return std::nullopt;
    if (std::ranges::find(*decoded, std::uint8_t{0}) != decoded->end() || !isValidUtf8(*decoded))
        return std::nullopt;
    return std::string(decoded->begin(), decoded->end());
}

std::optional<std::string> resolvedPath(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    std::string result(resolved.get());
    if (result.size() > maximumPathLength)
        return std::nullopt;
    return result;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The places a temporary file may lie in: the system's, shared memory, and the user's own
// temporary directory as given and as resolved.
bool isInTemporaryDirectory(const std::string& path)
{
    if (isPathInDirectory(path, "/tmp") || isPathInDirectory(path, "/dev/shm"))
        return true;
    const char* variable = std::getenv("TMPDIR");
    if (!variable || variable[0] != '/')
        return false;
    const std::string directory(variable);
    if (isPathInDirectory(path, directory))
        return true;
    const auto resolved = resolvedPath(directory);
    return resolved && isPathInDirectory(path, *resolved);
}

// The marker must be in the file's own name: a folder named with it would otherwise let any
// file inside it be removed.
bool hasTemporaryFileMarker(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return name.find("tty-graphics-protocol") != std::string_view::npos;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The bytes of a regular file, opened without following a link and without waiting on a
// special file; none when it cannot be read within the rules. `opened` tells whether the
// file passed the checks that let a temporary file be removed.
std::optional<Bytes> readFileData(const std::string& path, const KittyGraphicsControl& control, bool& opened)
{
    opened = false;
    if (control.dataOffset < 0 || control.dataSize < 0)
        return std::nullopt;
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const auto offset = static_cast<std::uint64_t>(control.dataOffset);
    if (size > kittyMaximumPayloadBytes || size < offset)
        return std::nullopt;
    opened = true;
    if (offset != 0 && ::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return std::nullopt;
    std::uint64_t wanted = static_cast<std::uint64_t>(control.dataSize);
    if (wanted == 0 || wanted >= kittyMaximumPayloadBytes)
        wanted = kittyMaximumPayloadBytes;
    const std::uint64_t count = std::min(size - offset, wanted);
    Bytes data;
    std::array<std::uint8_t, readPiece> piece{};
    while (data.size() < count) {
        const std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(readPiece, count - data.size()));
        const ssize_t got = ::read(file.get(), piece.data(), ask);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        data.insert(data.end(), piece.begin(), piece.begin() + got);
    }
    return data;
}

std::optional<KittyGraphicsPayload> decodeFetched(const KittyGraphicsControl& control, Bytes data)
{
    auto inflated = decompressKittyPayload(control, std::move(data));
    if (!inflated)
        return std::nullopt;
    return decodeKittyPixels(control, std::move(*inflated));
}

// The exact byte count raw pixels of this command need; none for encoded images or sizes
// out of range.
std::optional<std::size_t> rawPixelBytes(const KittyGraphicsControl& control)
{
    if (control.format != 24 && control.format != 32)
        return std::nullopt;
    if (control.width < 1 || control.width > kittyMaximumImageSide || control.height < 1
        || control.height > kittyMaximumImageSide)
        return std::nullopt;
    return static_cast<std::size_t>(control.width) * static_cast<std::size_t>(control.height)
         * (control.format == 32 ? 4u : 3u);
}

// A zlib header: deflate method, a check that divides by 31, no preset dictionary.
bool hasZlibHeader(std::span<const std::uint8_t> data)
{
    if (data.size() < 2)
        return false;
    const unsigned cmf = data[0];
    const unsigned flg = data[1];
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && (flg & 0x20) == 0;
}

// Runs zlib over `data`. The output goes where `nextSpace(produced)` says each time the last
// space is full (an empty span: no room left, the stream is longer than allowed); more than
// `limit` bytes in all fail too. The number of bytes produced, or nothing for a stream that is
// bad, cut short or too long.
template <typename NextSpace>
std::optional<std::size_t> runInflate(std::span<const std::uint8_t> data, int windowBits, std::size_t limit,
                                      NextSpace nextSpace)
{
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return std::nullopt;
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, &inflateEnd);
    stream.next_in = const_cast<Bytef*>(data.data());
    std::size_t offered = 0;
    std::size_t produced = 0;
    for (;;) {
        if (stream.avail_in == 0 && offered < data.size()) {
            const std::size_t take = std::min<std::size_t>(data.size() - offered, UINT_MAX);
            stream.avail_in = static_cast<uInt>(take);
            offered += take;
        }
        if (stream.avail_out == 0) {
            const std::span<std::uint8_t> space = nextSpace(produced);
            if (space.empty())
                return std::nullopt;
            stream.next_out = space.data();
            stream.avail_out = static_cast<uInt>(std::min<std::size_t>(space.size(), UINT_MAX));
        }
        const uInt before = stream.avail_out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        produced += before - stream.avail_out;
        if (produced > limit)
            return std::nullopt;
        if (status == Z_STREAM_END)
            return produced;
        if (status == Z_BUF_ERROR) {
            // No progress: with all input given the stream is cut short.
            if (stream.avail_in == 0 && offered == data.size())
                return std::nullopt;
            continue;
        }
        if (status != Z_OK)
            return std::nullopt;
    }
}

// Inflates into one buffer of the size the output must have (and a byte more, to tell a
// longer stream): with raw pixels the size is known, and a single buffer holds no more than it.
std::optional<Bytes> inflateExactlyWith(std::span<const std::uint8_t> data, int windowBits, std::size_t size)
{
    Bytes output(size + 1);
    const std::optional<std::size_t> produced = runInflate(
        data, windowBits, size, [&](std::size_t used) { return std::span<std::uint8_t>(output).subspan(used); });
    if (!produced)
        return std::nullopt;
    output.resize(*produced);
    return output;
}

std::optional<Bytes> inflateWith(std::span<const std::uint8_t> data, int windowBits, std::size_t limit)
{
    // The output is kept in steps and joined at the end: a growing single buffer would copy
    // itself on the way and hold twice the limit at its peak. Each step is full before the next.
    std::vector<Bytes> steps;
    const std::optional<std::size_t> produced = runInflate(
        data, windowBits, limit, [&](std::size_t) { return std::span<std::uint8_t>(steps.emplace_back(inflateStep)); });
    if (!produced)
        return std::nullopt;
    Bytes output;
    output.reserve(*produced);
    std::size_t left = *produced;
    for (Bytes& step : steps) {
        const std::size_t take = std::min(left, step.size());
        output.insert(output.end(), step.begin(), step.begin() + static_cast<std::ptrdiff_t>(take));
        left -= take;
        Bytes().swap(step);
    }
    return output;
}

} // namespace

KittyBase64Decoder::KittyBase64Decoder(std::size_t expectedTextSize)
{
    out_.reserve(expectedTextSize / 4 * 3 + 3);
}

void KittyBase64Decoder::feed(std::span<const std::uint8_t> text)
{
    for (const std::uint8_t c : text) {
        const int value = base64Value(c);
        if (value < 0)
            continue;
        ++characters_;
        accumulator_ = (accumulator_ << 6) | static_cast<std::uint32_t>(value);
        bits_ += 6;
        if (bits_ >= 8) {
            bits_ -= 8;
            out_.push_back(static_cast<std::uint8_t>(accumulator_ >> bits_));
            accumulator_ &= (1u << bits_) - 1;
        }
    }
}

std::optional<std::vector<std::uint8_t>> KittyBase64Decoder::finish()
{
    // One character alone carries fewer than eight bits.
    if (characters_ % 4 == 1)
        return std::nullopt;
    return std::move(out_);
}

std::optional<std::vector<std::uint8_t>> decodeKittyBase64(std::span<const std::uint8_t> text)
{
    KittyBase64Decoder decoder(text.size());
    decoder.feed(text);
    return decoder.finish();
}

bool isPathInDirectory(std::string_view path, std::string_view directory)
{
    while (directory.size() > 1 && directory.back() == '/')
        directory.remove_suffix(1);
    if (directory.empty() || directory == "/")
        return false; // the root would admit every path
    if (!startsWith(path, directory))
        return false;
    return path.size() == directory.size() || path[directory.size()] == '/';
}

bool isValidSharedMemoryName(std::string_view name)
{
    if (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<KittyPayloadResult> loadKittyPayload(const KittyGraphicsControl& control,
                                                   std::span<const std::uint8_t> payload)
{
    switch (control.transmission) {
    case 'd': {
        auto decoded = decodeKittyDirectPayload(control, payload);
        if (!decoded)
            return std::nullopt;
        return KittyPayloadResult(std::move(*decoded));
    }
    case 'f': return readKittyFile(control, payload, false);
    case 't': return readKittyFile(control, payload, true);
    case 's': return readKittySharedMemory(control, payload);
    default: return KittyPayloadResult(std::string("ENOTSUP: unsupported transmission"));
    }
}

std::optional<KittyGraphicsPayload> decodeKittyDirectPayload(const KittyGraphicsControl& control,
                                                             std::span<const std::uint8_t> payload)
{
    if (payload.empty())
        return std::nullopt;
    auto decoded = decodeKittyBase64(payload);
    if (!decoded)
        return std::nullopt;
    return decodeKittyDirectBytes(control, std::move(*decoded));
}

std::optional<KittyGraphicsPayload> decodeKittyDirectBytes(const KittyGraphicsControl& control,
                                                           std::vector<std::uint8_t> decoded)
{
    if (decoded.size() > kittyMaximumPayloadBytes)
        return std::nullopt;
    return decodeFetched(control, std::move(decoded));
}

KittyPayloadResult readKittyFile(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload,
                                 bool temporary)
{
    const auto decoded = decodeKittyBase64(payload);
    if (!decoded || decoded->empty())
        return badPayload;
    const auto name = decodeName(payload);
    if (!name)
        return badPath;
    const auto path = resolvedPath(*name);
    if (!path)
        return badPath;
    if (startsWith(*path, "/proc/") || startsWith(*path, "/sys/")
        || (startsWith(*path, "/dev/") && !startsWith(*path, "/dev/shm/")))
        return badPath;
    if (temporary && (!isInTemporaryDirectory(*path) || !hasTemporaryFileMarker(*path)))
        return badTempPath;

    bool opened = false;
    auto data = readFileData(*path, control, opened);
    if (temporary && opened)
        ::unlink(path->c_str());
    if (!data || data->empty())
        return badPayload;
    auto image = decodeFetched(control, std::move(*data));
    if (!image)
        return badPayload;
    return std::move(*image);
}

KittyPayloadResult readKittySharedMemory(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload)
{
    const auto name = decodeName(payload);
    if (!name || !isValidSharedMemoryName(*name))
        return badPayload;
    const auto expected = rawPixelBytes(control);
    if (!expected && control.format != 100)
        return badPayload;
    if (control.dataOffset < 0 || control.dataSize < 0)
        return badPayload;
    const std::string objectName = name->front() == '/' ? *name : "/" + *name;
    const Descriptor object(::shm_open(objectName.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0));
    if (object.get() < 0)
        return badPayload;
    struct stat info {};
    if (::fstat(object.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 1
        || static_cast<std::uint64_t>(info.st_size) > kittyMaximumPayloadBytes)
        return badPayload;
    const auto objectSize = static_cast<std::uint64_t>(info.st_size);
    const auto start = static_cast<std::uint64_t>(control.dataOffset);
    std::uint64_t end = expected ? start + *expected : objectSize;
    if (control.dataSize != 0)
        end = std::min(end, start + static_cast<std::uint64_t>(control.dataSize));
    if (start >= end || end > objectSize)
        return badPayload;

    // The object was meant for us: it goes once read, whatever the read gives.
    ::shm_unlink(objectName.c_str());
    void* mapped = ::mmap(nullptr, static_cast<std::size_t>(objectSize), PROT_READ, MAP_SHARED, object.get(), 0);
    if (mapped == MAP_FAILED)
        return badPayload;
    const auto* base = static_cast<const std::uint8_t*>(mapped);
    Bytes data(base + start, base + end);
    ::munmap(mapped, static_cast<std::size_t>(objectSize));
    auto image = decodeFetched(control, std::move(data));
    if (!image)
        return badPayload;
    return std::move(*image);
}

std::optional<std::vector<std::uint8_t>> decompressKittyPayload(const KittyGraphicsControl& control,
                                                                std::vector<std::uint8_t> data)
{
    if (!control.compression)
        return data;
    if (*control.compression != 'z')
        return std::nullopt;
    // Raw pixels need an exact count, so anything beyond it fails already, and the output
    // can be made at its size at once.
    if (const auto size = rawPixelBytes(control))
        return inflateKittyPayload(data, *size, true);
    return inflateKittyPayload(data, kittyMaximumPayloadBytes);
}

std::optional<std::vector<std::uint8_t>> inflateKittyPayload(std::span<const std::uint8_t> data, std::size_t limit,
                                                             bool sizeKnown)
{
    const auto inflateAs = [&](int windowBits) {
        return sizeKnown ? inflateExactlyWith(data, windowBits, limit) : inflateWith(data, windowBits, limit);
    };
    if (hasZlibHeader(data)) {
        if (auto wrapped = inflateAs(15))
            return wrapped;
    }
    return inflateAs(-15);
}

std::optional<KittyGraphicsPayload> decodeKittyPixels(const KittyGraphicsControl& control,
                                                      std::vector<std::uint8_t> data)
{
    if (data.size() > kittyMaximumPayloadBytes)
        return std::nullopt;
    KittyGraphicsPayload image;
    if (control.format == 100) {
        const auto size = pngPixelSize(data);
        if (!size || size->width < 1 || size->width > kittyMaximumImageSide || size->height < 1
            || size->height > kittyMaximumImageSide)
            return std::nullopt;
        image.kind = KittyGraphicsPayload::Kind::png;
        image.bytes = std::move(data);
        image.width = size->width;
        image.height = size->height;
        return image;
    }
    const auto needed = rawPixelBytes(control);
    if (!needed || data.size() != *needed)
        return std::nullopt;
    image.kind = KittyGraphicsPayload::Kind::rgba;
    image.width = control.width;
    image.height = control.height;
    if (control.format == 32) {
        image.bytes = std::move(data);
        return image;
    }
    const std::size_t pixels = data.size() / 3;
    image.bytes.resize(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i) {
        image.bytes[i * 4] = data[i * 3];
        image.bytes[i * 4 + 1] = data[i * 3 + 1];
        image.bytes[i * 4 + 2] = data[i * 3 + 2];
        image.bytes[i * 4 + 3] = 0xFF;
    }
    return image;
}

} // namespace corvantix
