#include "engine/graphics/KittyTestSupport.h"
#include "graphics/KittyGraphicsPayload.h"
#include "graphics/PngImage.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

KittyGraphicsControl control(int format, int width, int height)
{
    KittyGraphicsControl c;
    c.format = format;
    c.width = width;
    c.height = height;
    return c;
}

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct PixelCase {
    const char* name;
    KittyGraphicsControl control;
    Bytes data;
    std::optional<Bytes> rgba; // none: refused
};

void PrintTo(const PixelCase& c, std::ostream* out) { *out << c.name; }

class KittyPixels : public testing::TestWithParam<PixelCase> {};

TEST_P(KittyPixels, BecomeRgbaOrAreRefused)
{
    const auto decoded = decodeKittyPixels(GetParam().control, GetParam().data);
    ASSERT_EQ(decoded.has_value(), GetParam().rgba.has_value());
    if (decoded) {
        EXPECT_EQ(decoded->bytes, *GetParam().rgba);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, KittyPixels,
    testing::Values(PixelCase{"rgb gains opaque alpha", control(24, 2, 1), {1, 2, 3, 4, 5, 6}, Bytes{1, 2, 3, 255, 4, 5, 6, 255}},
                    PixelCase{"rgb one byte short", control(24, 2, 1), {1, 2, 3, 4, 5}, std::nullopt},
                    PixelCase{"rgb one byte over", control(24, 2, 1), {1, 2, 3, 4, 5, 6, 7}, std::nullopt},
                    PixelCase{"rgba as given", control(32, 1, 1), {9, 8, 7, 6}, Bytes{9, 8, 7, 6}},
                    PixelCase{"width past the side limit", control(32, 10'001, 1), Bytes(10'001 * 4), std::nullopt},
                    PixelCase{"no height", control(32, 1, 0), {9, 8, 7, 6}, std::nullopt},
                    PixelCase{"unknown format", control(8, 1, 1), {9}, std::nullopt},
                    PixelCase{"not a png", control(100, 0, 0), bytes("GIF89a"), std::nullopt}));

Bytes deflateWith(const Bytes& data, int windowBits)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&stream, data.size()));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(KittyInflate, ZlibAndRawStreamsBothInflate)
{
    Bytes pixels(3000);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes wrapped = deflateWith(pixels, 15);
    const Bytes raw = deflateWith(pixels, -15);
    ASSERT_EQ(wrapped[0], 0x78);
    EXPECT_EQ(inflateKittyPayload(wrapped), pixels);
    EXPECT_EQ(inflateKittyPayload(raw), pixels);
    for (const Bytes* stream : {&wrapped, &raw}) {
        const Bytes cut(stream->begin(), stream->begin() + static_cast<std::ptrdiff_t>(stream->size() / 2));
        EXPECT_FALSE(inflateKittyPayload(cut).has_value()) << "a stream cut short fails";
    }
    EXPECT_FALSE(inflateKittyPayload(Bytes{}).has_value());
    // Inflated into a buffer made at the expected size: exactly that size or shorter passes,
    // one byte more fails, and so does a cut stream.
    for (const bool sizeKnown : {false, true}) {
        SCOPED_TRACE(sizeKnown);
        for (const Bytes* stream : {&wrapped, &raw}) {
            EXPECT_EQ(inflateKittyPayload(*stream, 3000, sizeKnown), pixels);
            EXPECT_EQ(inflateKittyPayload(*stream, 3001, sizeKnown), pixels);
            EXPECT_FALSE(inflateKittyPayload(*stream, 2999, sizeKnown).has_value());
            const Bytes cut(stream->begin(), stream->begin() + static_cast<std::ptrdiff_t>(stream->size() / 2));
            EXPECT_FALSE(inflateKittyPayload(cut, 3000, sizeKnown).has_value());
        }
    }
}

long residentPeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

TEST(KittyInflate, BombStopsAtTheLimit)
{
    const Bytes bomb = deflateBomb();
    ASSERT_LT(bomb.size(), 2u << 20);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(inflateKittyPayload(bomb, 8 << 20).has_value());
    // Raw pixels may not inflate past the bytes they need.
    KittyFixture f;
    EXPECT_EQ(f.command("a=t,i=1,f=32,s=100,v=100,o=z;" + base64(bomb)), apc("Gi=1;EINVAL: bad payload"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LT(residentPeakMegabytes(), 500);
}

TEST(KittyPng, DecodesRealPixels)
{
    // Two by two: opaque red, half-transparent white, transparent green, opaque blue.
    const Bytes rgba{255, 0, 0, 255, 255, 255, 255, 128, 0, 255, 0, 0, 0, 0, 255, 255};
    const Bytes png = encodePng(rgba, 2, 2);
    EXPECT_EQ(pngPixelSize(png), (PixelSize{2, 2}));
    const auto decoded = decodePngPremultiplied(png, kittyMaximumImageSide);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->bytes, (Bytes{255, 0, 0, 255, 128, 128, 128, 128, 0, 0, 0, 0, 0, 0, 255, 255}));
    EXPECT_FALSE(decodePngPremultiplied(png, 1).has_value()) << "larger than the side limit";
    const auto stored = decodeKittyPixels(control(100, 0, 0), png);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->kind, KittyGraphicsPayload::Kind::png);
    EXPECT_EQ(stored->bytes, png) << "kept encoded";
}

struct DirectoryCase { const char* path; const char* directory; bool inside; };

TEST(KittyPaths, TemporaryDirectoriesCompareWholeComponents)
{
    for (const DirectoryCase& c : std::vector<DirectoryCase>{
             {"/tmp/a", "/tmp", true},
             {"/tmp/a/b", "/tmp/", true},
             {"/tmpx/tty-graphics-protocol", "/tmp", false},
             {"/etc/passwd", "/", false},
         }) {
        EXPECT_EQ(isPathInDirectory(c.path, c.directory), c.inside) << c.path << " in " << c.directory;
    }
    for (const char* name : {"/img", "img", "a.b"})
        EXPECT_TRUE(isValidSharedMemoryName(name)) << name;
    for (const std::string& name : std::vector<std::string>{"", "/", "a/b", "//img", "..", "/.", std::string(256, 'a')})
        EXPECT_FALSE(isValidSharedMemoryName(name)) << name;
}

// A private folder under the temporary directory, removed with its files.
class TempFolder {
public:
    TempFolder() : path_((std::filesystem::temp_directory_path() / "kitty-test-XXXXXX").string()) { mkdtemp(path_.data()); }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string write(const std::string& name, const Bytes& data) const
    {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::ssize(data));
        return file;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(KittyFiles, ReadWithinTheRules)
{
    TempFolder folder;
    const std::string file = folder.write("pixels", {1, 2, 3, 4, 5, 6, 7, 8});
    struct Case { std::string keys; std::string reply; std::optional<Bytes> stored; };
    const std::vector<Case> cases{
        {"f=32,s=2,v=1", apc("Gi=1;OK"), Bytes{1, 2, 3, 4, 5, 6, 7, 8}},
        {"f=32,s=1,v=1,O=4", apc("Gi=1;OK"), Bytes{5, 6, 7, 8}},
        {"f=32,s=1,v=1,O=2,S=4", apc("Gi=1;OK"), Bytes{3, 4, 5, 6}},
        {"f=32,s=1,v=1,O=8", apc("Gi=1;EINVAL: bad payload"), std::nullopt},
        {"f=32,s=1,v=1,O=-1", apc("Gi=1;EINVAL: bad payload"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        KittyFixture f;
        EXPECT_EQ(f.command("a=t,i=1,t=f," + c.keys + ";" + base64(file)), c.reply);
        const auto& images = f.terminal->kittyGraphicsState().imagesById;
        ASSERT_EQ(images.contains(1), c.stored.has_value());
        if (c.stored) {
            EXPECT_EQ(images.at(1).payload.bytes, *c.stored);
        }
    }
    EXPECT_TRUE(std::filesystem::exists(file)) << "t=f leaves the file";
}

TEST(KittyFiles, RefusedPlaces)
{
    TempFolder folder;
    const std::string fifo = folder.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folderLink = folder.path() + "/dir";
    std::filesystem::create_directory(folderLink);
    struct Case { std::string path; std::string reply; };
    const std::vector<Case> cases{
        {"/proc/self/status", apc("Gi=1;EINVAL: bad path")},
        {"/dev/zero", apc("Gi=1;EINVAL: bad path")},
        {folder.path() + "/missing", apc("Gi=1;EINVAL: bad path")},
        {"/tmp/" + std::string(5000, 'a'), apc("Gi=1;EINVAL: bad path")},
        {std::string("/tmp/\0x", 7), apc("Gi=1;EINVAL: bad path")},
        // Opened without waiting for a writer, then refused as not a regular file.
        {fifo, apc("Gi=1;EINVAL: bad payload")},
        {folderLink, apc("Gi=1;EINVAL: bad payload")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path.substr(0, 40)));
        KittyFixture f;
        EXPECT_EQ(f.command("a=t,i=1,t=f,f=32,s=1,v=1;" + base64(c.path)), c.reply);
    }
}

TEST(KittyFiles, TemporaryFilesAreRemovedOnceRead)
{
    TempFolder folder;
    const Bytes pixel{1, 2, 3, 4};
    const std::string marked = folder.write("tty-graphics-protocol-1.rgba", pixel);
    const std::string short_ = folder.write("tty-graphics-protocol-2.rgba", {1, 2});
    KittyFixture f;
    EXPECT_EQ(f.command("a=t,i=1,t=t,f=32,s=1,v=1;" + base64(marked)), apc("Gi=1;OK"));
    EXPECT_FALSE(std::filesystem::exists(marked));
    // Opened and read, then refused by the pixel check: removed all the same.
    EXPECT_EQ(f.command("a=t,i=2,t=t,f=32,s=1,v=1;" + base64(short_)), apc("Gi=2;EINVAL: bad payload"));
    EXPECT_FALSE(std::filesystem::exists(short_));
    // A marked file outside every temporary directory stays where it is. The working folder
    // may itself lie under /tmp (a checkout there), so the file goes to the first folder that
    // is outside them.
    const auto isTemporary = [](const std::string& folder) {
        const char* tmpdir = std::getenv("TMPDIR");
        return folder.starts_with("/tmp") || folder.starts_with("/dev/shm")
            || (tmpdir != nullptr && *tmpdir != 0 && folder.starts_with(tmpdir));
    };
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const std::string outsideFolder = !home.empty() && !isTemporary(home) && access(home.c_str(), W_OK) == 0 ? home : "/var/tmp";
    ASSERT_FALSE(isTemporary(outsideFolder));
    const std::string outside = outsideFolder + "/tty-graphics-protocol-outside-" + std::to_string(getpid());
    std::ofstream(outside, std::ios::binary).write("\x01\x02\x03\x04", 4);
    EXPECT_EQ(f.command("a=t,i=3,t=t,f=32,s=1,v=1;" + base64(outside)), apc("Gi=3;EINVAL: bad temp path"));
    EXPECT_TRUE(std::filesystem::exists(outside));
    std::filesystem::remove(outside);
}

// A shared-memory object of our own, unlinked at the end if the terminal left it.
class SharedObject {
public:
    explicit SharedObject(const Bytes& data) : name_("/kitty-test-" + std::to_string(getpid()) + "-" + std::to_string(++count_))
    {
        const int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        close(fd);
    }
    ~SharedObject() { shm_unlink(name_.c_str()); }
    bool exists() const
    {
        const int fd = shm_open(name_.c_str(), O_RDONLY, 0);
        if (fd >= 0) close(fd);
        return fd >= 0;
    }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    static inline int count_ = 0;
};

TEST(KittyFiles, MarkerInAFolderNameDoesNotMakeATemporaryFile)
{
    TempFolder folder;
    const std::string marked = folder.path() + "/tty-graphics-protocol-folder";
    std::filesystem::create_directory(marked);
    const std::string notes = marked + "/notes.txt";
    std::ofstream(notes, std::ios::binary).write("\x01\x02\x03\x04", 4);
    KittyFixture f;
    EXPECT_EQ(f.command("a=t,i=1,t=t,f=32,s=1,v=1;" + base64(notes)), apc("Gi=1;EINVAL: bad temp path"));
    EXPECT_TRUE(std::filesystem::exists(notes));
}

// A program on another computer names local things: every medium, whatever lies at the name,
// gets the one refusal, and nothing is read, removed or stored.
TEST(KittyFiles, RemoteProgramsCannotNameLocalThings)
{
    TempFolder folder;
    const Bytes pixel{1, 2, 3, 4};
    const std::string file = folder.write("tty-graphics-protocol-1.rgba", pixel);
    const std::string directory = folder.path() + "/tty-graphics-protocol-dir";
    std::filesystem::create_directory(directory);
    const std::string missing = folder.path() + "/tty-graphics-protocol-missing";
    SharedObject object(pixel);
    struct Case { std::string medium; std::string name; };
    const std::vector<Case> cases{
        {"f", file}, {"f", missing}, {"f", directory}, {"f", "/proc/self/status"},
        {"t", file}, {"t", missing}, {"t", directory},
        {"s", object.name()}, {"s", "/kitty-test-missing-object"}, {"s", "a/b"},
    };
    const std::string refusal = apc("Gi=1;ENOTSUP: unsupported transmission");
    for (const Case& c : cases) {
        for (const char* action : {"a=t", "a=T"}) {
            SCOPED_TRACE(c.medium + " " + action + " " + c.name);
            KittyFixture f;
            changeOptions(*f.terminal, [&](TerminalOptions& options) { options.fedByRemoteHost = true; });
            const std::string keys = std::string(action) + ",i=1,t=" + c.medium + ",f=32,s=1,v=1";
            EXPECT_EQ(f.command(keys + ";" + base64(c.name)), refusal);
            EXPECT_TRUE(f.terminal->kittyGraphicsState().imagesById.empty());
        }
    }
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(object.exists());
    // Direct data still works for that program, and a local one keeps the file media.
    KittyFixture remote;
    changeOptions(*remote.terminal, [&](TerminalOptions& options) { options.fedByRemoteHost = true; });
    EXPECT_EQ(remote.command("a=t,i=1,f=32,s=1,v=1;" + base64(pixel)), apc("Gi=1;OK"));
    KittyFixture local;
    EXPECT_EQ(local.command("a=t,i=1,t=f,f=32,s=1,v=1;" + base64(file)), apc("Gi=1;OK"));
}

TEST(KittySharedMemory, ReadsTheRangeAndUnlinksOnlyAfterTheChecks)
{
    const Bytes eight{1, 2, 3, 4, 5, 6, 7, 8};
    struct Case { const char* keys; Bytes data; std::string reply; std::optional<Bytes> stored; bool unlinked; };
    const std::vector<Case> cases{
        {"f=32,s=1,v=1", eight, apc("Gi=1;OK"), Bytes{1, 2, 3, 4}, true},
        {"f=32,s=1,v=1,O=4", eight, apc("Gi=1;OK"), Bytes{5, 6, 7, 8}, true},
        {"f=24,s=1,v=1,O=1", eight, apc("Gi=1;OK"), Bytes{2, 3, 4, 255}, true},
        {"f=32,s=1,v=1,O=5", eight, apc("Gi=1;EINVAL: bad payload"), std::nullopt, false},
        {"f=32,s=1,v=1", Bytes{1, 2}, apc("Gi=1;EINVAL: bad payload"), std::nullopt, false},
        {"f=32,s=1,v=1,S=2", eight, apc("Gi=1;EINVAL: bad payload"), std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        SharedObject object(c.data);
        KittyFixture f;
        EXPECT_EQ(f.command(std::string("a=t,i=1,t=s,") + c.keys + ";" + base64(object.name())), c.reply);
        const auto& images = f.terminal->kittyGraphicsState().imagesById;
        ASSERT_EQ(images.contains(1), c.stored.has_value());
        if (c.stored) {
            EXPECT_EQ(images.at(1).payload.bytes, *c.stored);
        }
        EXPECT_EQ(object.exists(), !c.unlinked);
    }
    KittyFixture f;
    for (const char* name : {"a/b", "..", "/missing-kitty-object"})
        EXPECT_EQ(f.command("a=t,i=1,t=s,f=32,s=1,v=1;" + base64(name)), apc("Gi=1;EINVAL: bad payload")) << name;
}

} // namespace
} // namespace corvantix::test
