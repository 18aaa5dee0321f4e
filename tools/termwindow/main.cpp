// termwindow: one terminal running the user's login shell in a plain window, with the
// terminal's edit and find actions in a menu. The window tests drive the engine's view
// through it (typing, mouse reports, copy by dragging, the find bar) without the workspace.
// `--gpu` (or CORVANTIX_GPU=1) draws the terminal with the GPU renderer instead of the painter;
// `--cells COLSxROWS` fixes the size of the text area in cells.
#include "../ToolArguments.h"
#include "gpu/qt/MetalHosting.h"
#include "view/qt/LocalProcessTerminalView.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QString>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr corvantix::ToolUsage usage{"termwindow",
                                     "usage: termwindow [--gpu] [--cells COLSxROWS]\n"
                                     "  --gpu               draw with the GPU renderer (or CORVANTIX_GPU=1)\n"
                                     "  --cells COLSxROWS   a text area of exactly that many cells, as in 100x30\n"};

struct Arguments {
    bool gpu = false;
    int cols = 0; // 0: the window's own size
    int rows = 0;
};

// Read before the application starts, so that --help and a mistake need no display.
Arguments parseArguments(int argc, char** argv)
{
    Arguments arguments;
    if (const char* value = std::getenv("CORVANTIX_GPU"); value != nullptr && std::strcmp(value, "1") == 0)
        arguments.gpu = true;
    const corvantix::ToolOption options[] = {
        {"--gpu", false, corvantix::takeFlag(arguments.gpu)},
        {"--cells", true,
         [&](std::string_view value) {
             int cols = 0;
             int rows = 0;
             char separator = 0;
             if (std::sscanf(std::string(value).c_str(), "%dx%d%c", &cols, &rows, &separator) != 2 || cols < 2
                 || rows < 1 || cols > 1000 || rows > 1000)
                 return false;
             arguments.cols = cols;
             arguments.rows = rows;
             return true;
         }},
    };
    if (const auto operands = corvantix::readToolArguments(argc, argv, usage, options); !operands.words.empty())
        corvantix::refuseArguments(usage, "unexpected operand " + std::string(operands.words.front()));
    return arguments;
}

// $SHELL, else the account's shell from the password database, else /bin/sh.
std::string loginShell()
{
    if (const char* shell = std::getenv("SHELL"); shell != nullptr && *shell != '\0' && ::access(shell, X_OK) == 0)
        return shell;
    if (const passwd* account = ::getpwuid(::getuid()); account != nullptr && account->pw_shell != nullptr
        && *account->pw_shell != '\0' && ::access(account->pw_shell, X_OK) == 0)
        return account->pw_shell;
    return "/bin/sh";
}

// The window's own environment with the terminal's identity.
std::vector<std::string> childEnvironment()
{
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.starts_with("TERM=") || text.starts_with("COLORTERM=") || text.starts_with("TERM_PROGRAM="))
            continue;
        environment.emplace_back(text);
    }
    environment.emplace_back("TERM=xterm-256color");
    environment.emplace_back("COLORTERM=truecolor");
    environment.emplace_back("TERM_PROGRAM=Halvoren");
    return environment;
}

class ShellWindow final : public QMainWindow, public corvantix::LocalProcessTerminalViewDelegate {
public:
    ShellWindow()
    {
        terminalView = new corvantix::LocalProcessTerminalView(this);
        terminalView->processDelegate = this;
        // Enough history that the find bar has something to search.
        terminalView->changeScrollback(10'000);
        setCentralWidget(terminalView);
        // The terminal's own edit actions: their shortcuts work while it has the focus, and
        // the menu shows them enabled as the selection allows.
        QMenu* edit = menuBar()->addMenu(tr("&Edit"));
        edit->addAction(terminalView->copyAction);
        edit->addAction(terminalView->pasteAction);
        edit->addSeparator();
        edit->addAction(terminalView->selectAllAction);
        edit->addSeparator();
        edit->addAction(terminalView->findAction);
        edit->addAction(terminalView->findNextAction);
        edit->addAction(terminalView->findPreviousAction);
        edit->addAction(terminalView->useSelectionForFindAction);
        connect(edit, &QMenu::aboutToShow, terminalView, [this] { terminalView->updateEditActions(); });
        setWindowTitle(QStringLiteral("Halvoren"));
        resize(900, 560);
    }

    void start()
    {
        const std::string shell = loginShell();
        const std::string name = shell.substr(shell.find_last_of('/') + 1);
        const char* home = std::getenv("HOME");
        // A leading "-" in the program's name asks the shell to act as a login shell.
        terminalView->startProcess(shell, {}, childEnvironment(), "-" + name,
                                   home != nullptr ? std::optional<std::string>(home) : std::nullopt);
        terminalView->setFocus();
    }

    // A text area of exactly cols x rows cells (the window benchmark measures at 100 x 30).
    void useCells(int cols, int rows)
    {
        terminalView->resizeGrid(cols, rows);
        terminalView->setFixedSize(terminalView->getOptimalFrameSize().size());
    }

    // GPU drawing; on failure the painter keeps drawing and the reason goes to standard error.
    void useGpuRenderer()
    {
        if (const auto error = corvantix::MetalHosting::of(*terminalView).setUseMetal(true))
            std::cerr << "termwindow: GPU renderer unavailable: " << error->description() << '\n';
    }

    void sizeChanged(corvantix::LocalProcessTerminalView&, int, int) override {}
    void titleChanged(corvantix::LocalProcessTerminalView&, const std::string& title) override
    {
        setWindowTitle(title.empty() ? QStringLiteral("Halvoren") : QString::fromStdString(title));
    }
    void currentDirectoryChanged(corvantix::TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(corvantix::TerminalView&, std::optional<std::int32_t>) override { close(); }

private:
    corvantix::LocalProcessTerminalView* terminalView = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    const Arguments arguments = parseArguments(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("termwindow"));
    ShellWindow window;
    if (arguments.cols > 0)
        window.useCells(arguments.cols, arguments.rows);
    if (arguments.gpu)
        window.useGpuRenderer();
    window.show();
    window.start();
    return QApplication::exec();
}
