// Files dropped on a tab reach its project's "Upload" folder, here and on a loopback sshd (see
// SshServer.h), and their paths are typed into the tab; the tab's view runs a recorder of
// what it is sent instead of a shell.
#include "workspace/MacModel.h"

#include "app/remote/SshServer.h"
#include "app/support/ParamName.h"
#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "platform/ProcessSignals.h"
#include "tab/MacTab.h"

#include <QDir>
#include <QThreadPool>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {
namespace {

struct DropCase { const char* name; bool overSSH; };

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class DroppedFiles : public testing::TestWithParam<DropCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.valid());
        if (GetParam().overSSH) {
            server.emplace();
            ASSERT_TRUE(server->running()) << server->failure().toStdString();
            SSHLink::setProgramForTests(server->keyClient());
            // As a started server tab leaves it.
            controlDirectory();
        }
        MacConnection* connection = model.localConnection();
        project = work.file(QStringLiteral("project"));
        if (server) {
            connection = new MacConnection(std::make_shared<SSHLink>(server->profile()));
            model.appendConnection(connection);
            project = server->remoteHome() + QStringLiteral("/project");
        }
        tab = model.makeTab(*connection, MacProject{QStringLiteral("project"), project, QStringLiteral("kq-project")});
        model.insertTab(tab, 0);
        tab->terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                                    std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt,
                                    work.path().toStdString());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(work.file(QStringLiteral("ready"))); }, 20000));
    }

    void drop(const QStringList& names)
    {
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << QUrl::fromLocalFile(name.startsWith(u'/') ? name : work.file(name));
        tab->onDropFiles(*tab, urls);
    }
    QByteArray typed() const { return test::readAll(work.file(QStringLiteral("typed"))); }
    // Waits until the tab was typed exactly `expected`.
    bool typedBecomes(const QByteArray& expected) const
    {
        return QTest::qWaitFor([&] { return typed() == expected; }, 20000);
    }
    // The message shown, then those waiting for their turn.
    QStringList banners() const
    {
        QStringList all;
        if (model.banner())
            all << *model.banner();
        return all + model.waitingBanners();
    }
    QString uploads() const { return project + QStringLiteral("/Upload/"); }

    test::TempFolder work;
    test::EnvironmentOverride home{"HOME", work.path()};
    std::optional<test::SshServer> server;
    struct ProgramReset {
        ~ProgramReset() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    } programReset;
    PreferenceStore store{work.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    QString project;
    MacTab* tab = nullptr;
};

// The address space this process may take, limited to what it takes now and `room` more
// while the object lives.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(rlim_t room)
    {
        const QList<QByteArray> pages = test::readAll(QStringLiteral("/proc/self/statm")).split(' ');
        applied = ::getrlimit(RLIMIT_AS, &before) == 0 && !pages.isEmpty();
        rlimit limited = before;
        limited.rlim_cur = rlim_t(pages.front().toULongLong()) * rlim_t(::sysconf(_SC_PAGESIZE)) + room;
        applied = applied && limited.rlim_cur <= before.rlim_max && ::setrlimit(RLIMIT_AS, &limited) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (applied)
            ::setrlimit(RLIMIT_AS, &before);
    }
    bool applied = false;

private:
    rlimit before{};
};

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

mode_t permissionsOf(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 07777;
}

// Each file arrives as cp copies it, with its own permission bits less the umask. One that
// cannot be read whole, a folder or a file larger than the memory the application may take
// or the system has to spare, is named in the banner; the files after it still go.
TEST_P(DroppedFiles, ReadableOnesAreUploadedAndTypedTheOtherNamed)
{
    const struct { const char* name; QByteArray bytes; mode_t permissions; } files[] = {
        {"a b.txt", "one", 0600}, {"c.txt", "three", 0750}, {"d.txt", "four", 0644}, {"محمّد نوت.txt", "five", 0644},
    };
    for (const auto& f : files) {
        ASSERT_TRUE(test::writeAll(work.file(QString::fromUtf8(f.name)), f.bytes));
        ASSERT_EQ(::chmod(QFile::encodeName(work.file(QString::fromUtf8(f.name))).constData(), f.permissions), 0);
    }
    ASSERT_TRUE(QDir().mkpath(work.file(QStringLiteral("folder"))));
    // Sparse: 8 GiB to read, no room taken on the disk.
    QFile huge(work.file(QStringLiteral("huge.bin")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(8) << 30));
    huge.close();
    // A megabyte, on a system said to have half of one to spare.
    QFile big(work.file(QStringLiteral("big.bin")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(1) << 20));
    big.close();
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("meminfo")), "MemTotal:        2048 kB\nMemAvailable:     512 kB\n"));
    setMemoryInfoForTests(work.file(QStringLiteral("meminfo")));
    const struct MemoryInfoReset {
        ~MemoryInfoReset() { setMemoryInfoForTests({}); }
    } memoryInfoReset;
    {
        const AddressSpaceLimit limit(rlim_t(1) << 30);
        ASSERT_TRUE(limit.applied);
        drop({QStringLiteral("a b.txt"), QStringLiteral("folder"), QStringLiteral("huge.bin"), QStringLiteral("big.bin"),
              QStringLiteral("c.txt"), QStringLiteral("d.txt"), QStringLiteral("محمّد نوت.txt")});
        EXPECT_TRUE(typedBecomes("Upload/a_b.txt Upload/c.txt Upload/d.txt Upload/محمّد_نوت.txt ")) << typed().toStdString();
    }
    EXPECT_EQ(banners(), (QStringList{QStringLiteral("Fichier illisible : folder"), QStringLiteral("Fichier illisible : huge.bin"),
                                      QStringLiteral("Fichier illisible : big.bin")}));
    EXPECT_EQ(QDir(uploads()).entryList(QDir::Files),
              (QStringList{QStringLiteral("a_b.txt"), QStringLiteral("c.txt"), QStringLiteral("d.txt"), QStringLiteral("محمّد_نوت.txt")}));
    const mode_t mask = currentUmask();
    for (const auto& [name, bytes, permissions] : files) {
        const QString uploaded = uploads() + cleanUploadName(QString::fromUtf8(name));
        EXPECT_EQ(test::readAll(uploaded), bytes) << name;
        EXPECT_EQ(permissionsOf(uploaded), permissions & ~mask) << name << ": " << std::oct << permissionsOf(uploaded);
    }
}

// Only regular files are read: a pipe would block its reader for ever (and the exit, which
// waits for the worker pool), a device would be read as a file. A link to a regular file is
// still one.
TEST_P(DroppedFiles, PipesAndDevicesAreRefusedWithoutHoldingAWorker)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(work.file(QStringLiteral("pipe"))).constData(), 0600), 0);
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("last.txt")), "last"));
    ASSERT_TRUE(QFile::link(work.file(QStringLiteral("last.txt")), work.file(QStringLiteral("link.txt"))));
    drop({QStringLiteral("pipe"), QStringLiteral("/dev/null"), QStringLiteral("link.txt"), QStringLiteral("last.txt")});
    EXPECT_TRUE(typedBecomes("Upload/link.txt Upload/last.txt ")) << typed().toStdString();
    EXPECT_EQ(banners(), (QStringList{QStringLiteral("Fichier illisible : pipe"), QStringLiteral("Fichier illisible : null")}));
    EXPECT_EQ(QDir(uploads()).entryList(QDir::Files), (QStringList{QStringLiteral("last.txt"), QStringLiteral("link.txt")}));
    EXPECT_EQ(test::readAll(uploads() + QStringLiteral("link.txt")), QByteArray("last"));
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(1000));
}

// The file system's longest name: the temporary file beside it must not be named after it.
TEST_P(DroppedFiles, ANameOfTheLongestSizeIsUploaded)
{
    const QString name = QString(251, u'n') + QStringLiteral(".txt");
    ASSERT_EQ(QFile::encodeName(name).size(), 255);
    ASSERT_TRUE(test::writeAll(work.file(name), "long"));
    drop({name});
    EXPECT_TRUE(typedBecomes("Upload/" + name.toUtf8() + ' ')) << typed().toStdString();
    EXPECT_EQ(banners(), QStringList());
    EXPECT_EQ(QDir(uploads()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    EXPECT_EQ(test::readAll(uploads() + name), QByteArray("long"));
}

// A name already in the upload folder is replaced as a rename replaces it, on a server as
// here: a file, or a link (one to a folder too, which stays as it was). A folder of that name
// is not replaced, nor written into: the upload fails, nothing is typed and no temporary file
// is left behind.
TEST_P(DroppedFiles, ANamesakeIsReplacedUnlessItIsAFolder)
{
    const QString upload = uploads();
    for (const char* folder : {"dir.txt", "linked"}) {
        ASSERT_TRUE(QDir().mkpath(upload + QLatin1String(folder)));
        ASSERT_TRUE(test::writeAll(upload + QLatin1String(folder) + QStringLiteral("/kept"), "kept"));
    }
    ASSERT_TRUE(QFile::link(QStringLiteral("linked"), upload + QStringLiteral("link.txt")));
    ASSERT_TRUE(test::writeAll(upload + QStringLiteral("plain.txt"), "old"));
    if (server) {
        // The server's account writes there.
        const passwd* account = ::getpwnam(test::SshServer::user);
        ASSERT_NE(account, nullptr);
        for (const QString& path : {project, project + QStringLiteral("/Upload"), upload + QStringLiteral("dir.txt"),
                                    upload + QStringLiteral("linked"), upload + QStringLiteral("link.txt"),
                                    upload + QStringLiteral("plain.txt")})
            ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid), 0) << path.toStdString();
    }
    for (const char* name : {"dir.txt", "link.txt", "plain.txt"})
        ASSERT_TRUE(test::writeAll(work.file(QLatin1String(name)), QByteArray("new ") + name));
    drop({QStringLiteral("dir.txt"), QStringLiteral("link.txt"), QStringLiteral("plain.txt")});
    EXPECT_TRUE(typedBecomes("Upload/link.txt Upload/plain.txt ")) << typed().toStdString();
    EXPECT_EQ(banners(), QStringList{QStringLiteral("Envoi impossible : Is a directory")});
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    EXPECT_EQ(QDir(upload).entryList(all),
              (QStringList{QStringLiteral("dir.txt"), QStringLiteral("link.txt"), QStringLiteral("linked"), QStringLiteral("plain.txt")}));
    for (const char* folder : {"dir.txt", "linked"})
        EXPECT_EQ(QDir(upload + QLatin1String(folder)).entryList(all), QStringList{QStringLiteral("kept")}) << folder;
    EXPECT_FALSE(QFileInfo(upload + QStringLiteral("link.txt")).isSymLink());
    EXPECT_EQ(test::readAll(upload + QStringLiteral("link.txt")), QByteArray("new link.txt"));
    EXPECT_EQ(test::readAll(upload + QStringLiteral("plain.txt")), QByteArray("new plain.txt"));
}

// On a server whose ~/.bashrc starts zsh in place of the shell sshd gave our command, zsh
// reads the upload's input as commands: a dropped file whose text is a command never runs and
// is never written, nothing is typed, and the banner says the profile ran no command.
class DroppedFilesOnAServer : public DroppedFiles {};

TEST_P(DroppedFilesOnAServer, AFilesTextIsNeverRunByAShellALoginFileStarts)
{
    const QString bashrc = server->remoteHome() + QStringLiteral("/.bashrc");
    ASSERT_TRUE(test::writeAll(bashrc, "[ -x /usr/bin/zsh ] && exec zsh\n"));
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("run-me.sh")), "touch \"$HOME/PWNED\"\n"));
    drop({QStringLiteral("run-me.sh")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !banners().isEmpty(); }, 20000));
    EXPECT_EQ(banners(), QStringList{uploadFailedMessage(scriptNotRunMessage(false))});
    EXPECT_EQ(typed(), QByteArray());
    EXPECT_FALSE(QFile::exists(server->remoteHome() + QStringLiteral("/PWNED")));
    EXPECT_FALSE(QFile::exists(uploads()));
    QFile::remove(bashrc);
}

INSTANTIATE_TEST_SUITE_P(Hosts, DroppedFilesOnAServer, testing::Values(DropCase{"loopback_server", true}), test::ParamName());

// Under a file-size limit (a user's `ulimit -f`, a service manager's limit) and with nothing
// but the application's own start-up signal set-up, a file over the limit is refused with the
// system's words, the file of that name and the preferences stay as they were, no temporary file
// is left, and the files after it still go. In a child process, which keeps the limit and the
// set-up to itself and reports what differed: a process the limit ended reports nothing.
class DroppedFilesUnderALimit : public DroppedFiles {
protected:
    [[noreturn]] void dropAndReport()
    {
        QStringList differences;
        const auto check = [&differences](const char* what, const QString& seen, const QString& expected) {
            if (seen != expected)
                differences << QLatin1String(what) + QStringLiteral(": ") + seen + QStringLiteral(" (expected ") + expected + u')';
        };
        setUpProcessSignals();
        const qsizetype limit = 64 * 1024;
        const bool made = test::writeAll(work.file(QStringLiteral("before.txt")), "before")
                          && test::writeAll(work.file(QStringLiteral("big.bin")), QByteArray(4 * limit, 'x'))
                          && test::writeAll(work.file(QStringLiteral("after.txt")), "after") && QDir().mkpath(uploads())
                          && test::writeAll(uploads() + QStringLiteral("big.bin"), "old");
        check("the files to drop made", made ? QStringLiteral("yes") : QStringLiteral("no"), QStringLiteral("yes"));
        store.setValue(QStringLiteral("hv.test"), QStringLiteral("small"));
        store.flush();
        const QString preferences = QString::fromUtf8(test::readAll(store.path()));
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        rlimit limited = before;
        limited.rlim_cur = rlim_t(limit);
        check("the limit lowered", QString::number(::setrlimit(RLIMIT_FSIZE, &limited)), QStringLiteral("0"));

        drop({QStringLiteral("before.txt"), QStringLiteral("big.bin"), QStringLiteral("after.txt")});
        typedBecomes("Upload/before.txt Upload/after.txt ");
        check("typed", QString::fromUtf8(typed()), QStringLiteral("Upload/before.txt Upload/after.txt "));
        check("banners", banners().join(QStringLiteral(" / ")), QStringLiteral("Envoi impossible : File too large"));
        const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        check("Upload", QDir(uploads()).entryList(all).join(u' '), QStringLiteral("after.txt before.txt big.bin"));
        check("Upload/big.bin", QString::fromUtf8(test::readAll(uploads() + QStringLiteral("big.bin"))), QStringLiteral("old"));
        // The preferences writer, under the same limit.
        store.setValue(QStringLiteral("hv.test"), QString(2 * limit, u'x'));
        store.flush();
        check("the preferences", QString::fromUtf8(test::readAll(store.path())), preferences);
        check("beside the preferences",
              QDir(work.path()).entryList({QStringLiteral("preferences.json*")}, all).join(u' '), QStringLiteral("preferences.json"));

        ::setrlimit(RLIMIT_FSIZE, &before);
        const QByteArray report = differences.join(u'\n').toUtf8();
        std::fwrite(report.constData(), 1, size_t(report.size()), stderr);
        std::fflush(stderr);
        QDir(work.path()).removeRecursively();
        std::_Exit(differences.isEmpty() ? 0 : 1);
    }
};

TEST_P(DroppedFilesUnderALimit, AFileOverItIsRefusedAndTheOthersGo)
{
    // The child starts afresh rather than as a copy of this process and its threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(dropAndReport(), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Hosts, DroppedFilesUnderALimit, testing::Values(DropCase{"this_computer", false}), test::ParamName());

INSTANTIATE_TEST_SUITE_P(Hosts, DroppedFiles,
                         testing::Values(DropCase{"this_computer", false}, DropCase{"loopback_server", true}),
                         test::ParamName());

} // namespace
} // namespace halvoren
