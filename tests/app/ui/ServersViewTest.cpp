// The servers sheet and the server editor over a model whose ssh always fails; the
// first-connection terminal without ssh (output handed to the view as ssh would print it, keys as
// the user would type them, the bytes on their way to ssh recorded); and the first-connection
// sheet against a real sshd on 127.0.0.1 (see SshServer.h) with the password-only account.
#include "ui/BootTermView.h"
#include "ui/ConnectSheet.h"
#include "ui/ProfileEditor.h"
#include "ui/PlainText.h"
#include "ui/ServersView.h"
#include "remote/ShellQuote.h"

#include "ViewsWorkspace.h"
#include "app/remote/SshServer.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTcpServer>
#include <QRegularExpression>
#include <QFileInfo>
#include <QDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <string>

namespace halvoren {
namespace {

struct ServersSheet : test::ServersWorkspace, testing::Test {
    std::optional<ServersView> view;
    // The profiles the first-connection sheet was asked for, and its last report callback.
    QList<MacProfile> asked;
    ServersView::ConnectDone done;
    ServersView& open(std::optional<QString> autoConnect = std::nullopt)
    {
        view.emplace(model, std::move(autoConnect), nullptr);
        view->makeConnectSheet = [this](const MacProfile& profile, ServersView::ConnectDone report, QWidget* parent) {
            asked << profile;
            done = std::move(report);
            return new QDialog(parent);
        };
        view->show();
        return *view;
    }
};

TEST_F(ServersSheet, AParsedLineIsSavedThoughTheFirstConnectionIsCancelled)
{
    // An automatic connection to an id that is not saved does nothing.
    open(QStringLiteral("p-gone"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.reconnecting().isEmpty() && asked.isEmpty() && view->isVisible());
    ServersView& sheet = open();
    // Blanks, or an option where the destination goes, are not recognised and stay typed.
    for (const char* line : {"   ", "ssh -l -oProxyCommand=x srv"}) {
        sheet.quickField->setText(QString::fromUtf8(line));
        QTest::keyClick(sheet.quickField, Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible() && sheet.errorLabel->isVisible());
        EXPECT_EQ(sheet.errorLabel->text(), ServersView::unrecognisedMessage);
        EXPECT_EQ(sheet.quickField->text(), QString::fromUtf8(line));
    }
    EXPECT_TRUE(model.profiles().isEmpty());
    sheet.quickField->setText(QStringLiteral("ssh -p 2222 ana@box"));
    QTest::mouseClick(sheet.quickButton, Qt::LeftButton);
    ASSERT_EQ(model.profiles().size(), 1);
    const MacProfile saved = model.profiles().front();
    EXPECT_EQ(serverDetailLine(saved), QStringLiteral("ana@box:2222 · ~/projets"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked.isEmpty(); }, 20000));
    EXPECT_TRUE(asked.front().id == saved.id && sheet.connecting && model.reconnecting().isEmpty());
    done(nullptr);
    EXPECT_TRUE(!sheet.connecting && sheet.isVisible());
    EXPECT_TRUE(model.profiles() == QList<MacProfile>{saved} && !model.connection(saved.id));
}

TEST_F(ServersSheet, DeletingAConnectedServerDisconnectsItAndForgetsItsPassword)
{
    const MacProfile kept = profile("p1", "keep"), gone = profile("p2", "box");
    model.setProfiles({kept, gone});
    remember(gone.id, QStringLiteral("secret"));
    connect(gone);
    ServersView& sheet = open();
    std::unique_ptr<QMenu> menu(sheet.rowMenu(gone, &sheet));
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_EQ(menu->actions().at(3)->text(), QStringLiteral("Supprimer"));
    menu->actions().at(3)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.profiles() == QList<MacProfile>{kept}; }, 20000));
    EXPECT_FALSE(model.connection(gone.id) || password(gone.id));
}

// A row's texts give way to its status: with a long host, folder or name the "Connecter" button,
// the spinner and the "Connecté" mark stay whole inside the list, and only the texts are cut.
TEST_F(ServersSheet, LongRowsKeepTheirButtonSpinnerAndMarkInsideTheList)
{
    const QString host = QStringLiteral("build-server-01.eu-west.internal.example.net");
    const QString root = QStringLiteral("/srv/www/projects/clients");
    const QString longName = QStringLiteral("Serveur de production principal de l'équipe plateforme, région ouest");
    const MacProfile connected{QStringLiteral("p1"), QStringLiteral("prod"), host, 22, QStringLiteral("deploy"), root};
    const MacProfile busy{QStringLiteral("p2"), longName, host, 2222, QStringLiteral("deploy"), root};
    const MacProfile idle{QStringLiteral("p3"), longName + longName, host, 22, QStringLiteral("deploy"), root};
    const MacProfile plain{QStringLiteral("p4"), QStringLiteral("box"), QStringLiteral("box"), 22, {}, {}};
    model.setProfiles({connected, busy, idle, plain});
    connect(connected);
    model.setReconnecting({busy.id});
    ServersView& sheet = open();
    test::settle();
    const QWidget* viewport = sheet.list->viewport();
    const QRect inside = viewport->rect();
    const QList<QWidget*> rows = sheet.list->widget()->findChildren<QWidget*>(QStringLiteral("serverRow"));
    ASSERT_EQ(rows.size(), 4);
    for (const QWidget* row : rows) {
        const QWidget* status = row->findChild<QWidget*>(QStringLiteral("connected"));
        if (!status)
            status = row->findChild<QWidget*>(QStringLiteral("connecting"));
        if (!status)
            status = row->findChild<QWidget*>(QStringLiteral("connect"));
        ASSERT_NE(status, nullptr);
        const QRect shown(status->mapTo(viewport, QPoint(0, 0)), status->size());
        SCOPED_TRACE(row->findChild<ElidedLabel*>(QStringLiteral("name"))->fullText().toStdString());
        EXPECT_TRUE(inside.contains(shown)) << "status at " << shown.x() << "+" << shown.width() << " in "
                                            << inside.width();
        EXPECT_GE(status->width(), status->sizeHint().width());
        for (const auto* text : row->findChildren<ElidedLabel*>())
            EXPECT_LE(text->mapTo(viewport, QPoint(text->width(), 0)).x(), status->mapTo(viewport, QPoint(0, 0)).x());
    }
    // Only the long texts are cut, and they keep what they hold in full.
    const auto* idleRow = rows.at(2);
    const auto* name = idleRow->findChild<ElidedLabel*>(QStringLiteral("name"));
    const auto* detail = idleRow->findChild<ElidedLabel*>(QStringLiteral("detail"));
    EXPECT_TRUE(name->text().endsWith(u'…') && name->fullText() == idle.name);
    EXPECT_EQ(detail->fullText(), QStringLiteral("deploy@") + host + QStringLiteral(" · ") + root);
    EXPECT_EQ(rows.at(3)->findChild<ElidedLabel*>(QStringLiteral("name"))->text(), QStringLiteral("box"));
}

// Pressing a row's "Connecter" leaves the list where it was, with the row's spinner in view,
// while the attempt runs and after it failed.
TEST_F(ServersSheet, ConnectingARowKeepsTheListWhereItWas)
{
    // An ssh that takes a second to fail: the spinner stays meanwhile.
    const QString slow = folder.file(QStringLiteral("slow-ssh"));
    ASSERT_TRUE(test::writeAll(slow, "#!/bin/sh\nsleep 1\nexit 255\n"));
    QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    SSHLink::setProgramForTests(slow);
    QList<MacProfile> profiles;
    for (int i = 1; i <= 9; ++i)
        profiles << profile(QStringLiteral("p%1").arg(i), QStringLiteral("srv%1").arg(i));
    model.setProfiles(profiles);
    ServersView& sheet = open();
    test::settle();
    QScrollBar* scroll = sheet.list->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0) << "the rows must overflow the list";
    ASSERT_EQ(scroll->value(), 0);
    const auto rowOf = [&](int index) { return sheet.list->widget()->findChildren<QWidget*>(QStringLiteral("serverRow")).at(index); };
    auto* connect = rowOf(3)->findChild<QPushButton*>(QStringLiteral("connect"));
    ASSERT_NE(connect, nullptr);
    QTest::mouseClick(connect, Qt::LeftButton);
    ASSERT_TRUE(model.reconnecting().contains(profiles[3].id));
    test::settle();
    EXPECT_EQ(scroll->value(), 0);
    const QWidget* spinner = nullptr;
    for (const QWidget* row : sheet.list->widget()->findChildren<QWidget*>(QStringLiteral("serverRow"))) {
        if (row->isVisible() && row->findChild<QWidget*>(QStringLiteral("connecting")))
            spinner = row->findChild<QWidget*>(QStringLiteral("connecting"));
    }
    ASSERT_NE(spinner, nullptr);
    const QRect shown(spinner->mapTo(sheet.list->viewport(), QPoint(0, 0)), spinner->size());
    EXPECT_TRUE(spinner->isVisible() && sheet.list->viewport()->rect().contains(shown));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked.isEmpty(); }, 20000));
    test::settle();
    EXPECT_EQ(scroll->value(), 0);
}

// A server deleted while its silent connection is under way: the attempt ends with nothing
// kept and no first-connection sheet.
TEST_F(ServersSheet, AServerDeletedWhileItConnectsIsLetGoWithoutAFirstConnectionSheet)
{
    // An ssh that takes a second to fail, as a slow server does.
    const QString slow = folder.file(QStringLiteral("slow-ssh"));
    ASSERT_TRUE(test::writeAll(slow, "#!/bin/sh\nsleep 1\nexit 255\n"));
    QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    struct Program {
        explicit Program(const QString& path) { SSHLink::setProgramForTests(path); }
        ~Program() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    } program(slow);
    const MacProfile kept = profile("p1", "keep"), gone = profile("p2", "box");
    model.setProfiles({kept, gone});
    ServersView& sheet = open();
    Task<> connecting = sheet.connectFlow(gone);
    ASSERT_TRUE(model.reconnecting().contains(gone.id));
    std::unique_ptr<QMenu> menu(sheet.rowMenu(gone, &sheet));
    ASSERT_EQ(menu->actions().last()->text(), QStringLiteral("Supprimer"));
    menu->actions().last()->trigger();
    QCoro::waitFor(std::move(connecting));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(sheet.connecting);
    EXPECT_TRUE(model.reconnecting().isEmpty());
    EXPECT_EQ(model.profiles(), QList<MacProfile>{kept});
    EXPECT_EQ(model.connections().size(), 1);
    EXPECT_TRUE(prefs.connectedProfiles().isEmpty());
}

struct Editor : test::ServersWorkspace, testing::Test {
    std::optional<ProfileEditor> editor;
    ProfileEditor& open(const MacProfile& profile)
    {
        editor.emplace(model, profile, nullptr);
        editor->show();
        return *editor;
    }
    void save() { QTest::mouseClick(editor->saveButton, Qt::LeftButton); }
};

TEST_F(Editor, ABlankNameTakesTheHostAndThePortReadsWithoutGrouping)
{
    for (const auto& [typed, saved] : {std::pair{"", "srv"}, {" \t\u00a0 ", "srv"}, {" Prod ", " Prod "}}) {
        open(profile(u'p' + QString::fromUtf8(typed))).nameField->setText(QString::fromUtf8(typed));
        editor->hostField->setText(QStringLiteral("srv"));
        save();
        EXPECT_FALSE(editor->isVisible());
        EXPECT_EQ(model.profiles().last().name, QString::fromUtf8(saved));
    }
    EXPECT_EQ(model.profiles().size(), 3);
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(QLocale().toString(2222), QStringLiteral("2.222"));
    EXPECT_EQ(open(profile("p1", "box", {}, 2222)).portField->text(), QStringLiteral("2222"));
    QLocale::setDefault(before);
}

// Ids of a stored list are kept whatever they hold, with sockets of their own inside the
// control folder; "local" and a repeated id get fresh ones at load; editing one server then
// changes only it.
TEST_F(Editor, StoredIdsOfAnyFormLoadAsUsableServersAndEditingOneChangesOnlyIt)
{
    const QString stored = QStringLiteral(
        R"([{"id":"../x","host":"h1"},{"id":"a b","host":"h2"},{"id":"local","host":"h3"},)"
        R"({"id":"dup","host":"h4"},{"id":"dup","host":"h5"}])");
    ASSERT_EQ(QCoro::waitFor(keychain.writeItem(ProfileStore::profilesKey, stored)).status, SecretStatus::ok);
    const QString id = QStringLiteral("../x");
    prefs.setFavorites(id, {QStringLiteral("site")});
    prefs.setHidden(id, {QStringLiteral("old")});
    const QList<PersistedTab> tabs{PersistedTab{QStringLiteral("site"), QStringLiteral("/srv/site"), QStringLiteral("kq-site")}};
    prefs.setTabs(id, tabs);
    ProfileStore profileStore(keychain, folder.path());
    model.profileStore = &profileStore;
    model.setProfiles(QCoro::waitFor(profileStore.loadProfiles()));
    const QList<MacProfile> loaded = model.profiles();
    ASSERT_EQ(loaded.size(), 5);
    QSet<QString> ids, sockets;
    const QRegularExpression socketName(QStringLiteral("^c[0-9a-f]{16}$"));
    for (const MacProfile& p : loaded) {
        SCOPED_TRACE(p.id.toStdString());
        ids << p.id;
        const QFileInfo socket(SSHLink(p).controlPath());
        EXPECT_EQ(socket.absolutePath(), QDir::homePath() + QStringLiteral("/.halvoren/cm"));
        EXPECT_TRUE(socketName.match(socket.fileName()).hasMatch()) << socket.fileName().toStdString();
        sockets << socket.fileName();
    }
    EXPECT_EQ(ids.size(), 5);
    EXPECT_EQ(sockets.size(), 5);
    EXPECT_FALSE(ids.contains(QStringLiteral("local")));
    EXPECT_EQ(loaded.front().id, id);
    EXPECT_EQ(loaded.at(1).id, QStringLiteral("a b"));
    EXPECT_EQ(loaded.at(3).id, QStringLiteral("dup"));
    EXPECT_EQ(prefs.favorites(id), QSet<QString>{QStringLiteral("site")});
    EXPECT_EQ(prefs.hidden(id), QSet<QString>{QStringLiteral("old")});
    EXPECT_EQ(prefs.tabs(id), tabs);
    for (const qsizetype index : {qsizetype(0), qsizetype(4)}) {
        QList<MacProfile> expected = model.profiles();
        open(expected.at(index)).nameField->setText(QStringLiteral("edited ") + QString::number(index));
        save();
        expected[index].name = QStringLiteral("edited ") + QString::number(index);
        EXPECT_EQ(model.profiles(), expected);
    }
    const SecretOutcome saved = QCoro::waitFor(keychain.readItem(ProfileStore::profilesKey));
    EXPECT_EQ(decodeProfiles(saved.value).profiles, model.profiles());
    model.profileStore = nullptr;
}

TEST_F(Editor, AnEmptyPasswordKeepsTheRememberedOneAndEditingKeepsTheIdAndPlace)
{
    const QList<MacProfile> servers{profile("p1", "a"), profile("p2", "b", "ana"), profile("p3", "c")};
    model.setProfiles(servers);
    remember("p2", QStringLiteral("old"));
    for (const char* typed : {"", "new"}) {
        EXPECT_TRUE(open(servers[1]).passwordField->text().isEmpty());
        editor->passwordField->setText(QString::fromUtf8(typed));
        editor->hostField->setText(QStringLiteral("b2"));
        save();
        EXPECT_EQ(password("p2"), QString::fromUtf8(*typed ? typed : "old"));
    }
    // Edited in place, under the same id.
    EXPECT_EQ(model.profiles(), (QList<MacProfile>{servers[0], {"p2", "b", "b2", 22, "ana"}, servers[2]}));
}

TEST_F(Editor, SavingNeedsAHostAndRefusesWhatSshWouldReadAsAnOptionOrSplit)
{
    EXPECT_FALSE(open(profile("p1")).saveButton->isEnabled());
    const QString &host = ProfileEditor::hostRefused, &user = ProfileEditor::userRefused;
    for (const auto& [badHost, badUser, expected] :
         {std::tuple{"-oProxyCommand=x", "", host}, {" ", "", host}, {"box\x01", "", host}, {"box", "-lroot", user},
          {"box", "ana b", user}}) {
        open(profile("p1", badHost, badUser)).passwordField->setText(QStringLiteral("secret"));
        save();
        EXPECT_TRUE(editor->isVisible() && editor->problemLabel->isVisible());
        EXPECT_EQ(editor->problemLabel->text(), expected) << badHost << " / " << badUser;
        editor->userField->setText(QStringLiteral("ana"));
        EXPECT_FALSE(editor->problemLabel->isVisible());
    }
    EXPECT_TRUE(model.profiles().isEmpty());
    EXPECT_FALSE(password("p1").has_value());
}

std::span<const std::uint8_t> bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string screen(BootTermView& view) { return corvantix::testing::screenText(*view.terminal); }

// Its keychain holds the password of the profile "p1".
struct RecordingBootView : BootTermView {
    RecordingBootView() : BootTermView(QRect(0, 0, 600, 260))
    {
        keychain = &store;
        link = std::make_shared<SSHLink>(test::ViewsWorkspace::profile(QStringLiteral("p1")));
        finished = [this](BootResult result) { results.push_back(std::move(result)); };
    }
    void send(corvantix::TerminalView& source, std::span<const std::uint8_t> data) override
    {
        sent += std::string(data.begin(), data.end());
        BootTermView::send(source, data);
    }
    void output(std::string_view text) { dataReceived(bytes(text)); }
    void type(std::string_view text) { sendUserInput(bytes(text)); }
    std::optional<QString> stored() { return QCoro::waitFor(store.secureRead(QStringLiteral("pwd_p1"))); }
    SecretStore store{std::make_unique<MemorySecretBackend>()};
    std::string sent;
    std::vector<BootResult> results;
};

TEST(BootTermView, StoresWhatWasTypedAfterAPasswordPrompt)
{
    const char* prompt = "ana@srv's password: ";
    // The prompt, what is typed, the toggle at the marker, and what the keychain holds after
    // (it held "ancien" before). Only an answer to ssh's own prompt is the server's password.
    for (const auto& [shown, typed, remember, stored] :
         {std::tuple{prompt, "secret\r", true, "secret"}, {"(ana@srv) Password :  ", "secret\n", true, "secret"},
          {"Password: ", "secret\r", true, "ancien"}, {"[sudo] password for ana: ", "secret\r", true, "ancien"},
          {prompt, "secrx\x7ft\bt\r", true, "secrt"}, {prompt, "mdp\xc3\xa9\xe2\x82\xac\x7f!\r", true, "mdpé!"},
          {prompt, "faux\x15vrai\r", true, "vrai"}, {prompt, "\r", true, "ancien"}, {prompt, "secret\r", false, "ancien"},
          {"Enter passphrase for key '/home/ana/.ssh/id_ed25519': ", "phrase\r", true, "ancien"},
          {"ana@srv's password: \r\n", "secret\r", true, "ancien"}}) {
        SCOPED_TRACE(testing::Message() << shown << " then " << testing::PrintToString(std::string(typed)));
        RecordingBootView view;
        QCoro::waitFor(view.store.secureWrite(QStringLiteral("pwd_p1"), QStringLiteral("ancien")));
        view.output(shown);
        view.type(typed);
        view.remember = remember;
        view.output("\r\n__HV_READY__:/home/ana\r\n");
        ASSERT_EQ(view.results.size(), 1u);
        EXPECT_EQ(view.stored(), QString::fromUtf8(stored));
        EXPECT_EQ(view.sent, typed);
    }
}

TEST(BootTermView, RememberedPasswordIsTypedOnceThenTheUsersAnswerReplacesIt)
{
    RecordingBootView view;
    view.autofill.emplace(QStringLiteral("mémo"));
    view.output("ana@srv's password: ");
    EXPECT_EQ(view.sent, "mémo\r");
    EXPECT_NE(screen(view).find("(mot de passe mémorisé saisi automatiquement)"), std::string::npos);
    view.output("\r\nPermission denied, please try again.\r\nana@srv's password: ");
    EXPECT_EQ(view.sent, "mémo\r");
    view.type("juste\r");
    view.output("\r\n__HV_READY__:/home/ana\r\n");
    ASSERT_EQ(view.results.size(), 1u);
    EXPECT_EQ(view.stored(), QStringLiteral("juste"));
}

TEST(BootTermView, MarkerLineMayArriveInPiecesAndTheHomeIsTrimmed)
{
    RecordingBootView view;
    for (const char* chunk : {"Bienvenue\r\n__HV_REA", "DY__:  /home/andr\xc3", "\xa9 "})
        view.output(chunk);
    EXPECT_TRUE(view.results.empty());
    view.output("\r\n");
    ASSERT_TRUE(view.results.size() == 1 && view.results[0].succeeded());
    EXPECT_EQ(view.results[0].link->remoteHome(), QStringLiteral("/home/andré"));
    view.bootExited();
    EXPECT_EQ(view.results.size(), 1u);
}

TEST(BootTermView, EndOfSshIsReportedOnceAndTheBufferStaysBounded)
{
    RecordingBootView view;
    view.bootWatchdog();
    EXPECT_NE(screen(view).find("Le serveur ne répond pas encore…"), std::string::npos);
    view.output(std::string(3 * BootTermView::bufferLimit, 'x'));
    EXPECT_EQ(view.buffer.size(), BootTermView::bufferLimit);
    view.output("\r\nssh: connect to host srv port 22: connection REFUSED\r\n");
    view.bootExited();
    view.bootExited();
    ASSERT_EQ(view.results.size(), 1u);
    EXPECT_EQ(view.results[0].message, QStringLiteral("Serveur injoignable. Vérifie le réseau et que Tailscale est lancé."));
}

TEST(BootTermView, HostThatSshWouldReadAsAnOptionFailsWithoutStartingIt)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    RecordingBootView view;
    view.bootStart(test::ViewsWorkspace::profile(QStringLiteral("p1"), QStringLiteral("-oProxyCommand=false")), view.finished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.results.empty(); }, 5000));
    EXPECT_EQ(view.process->shellPid(), 0);
    EXPECT_TRUE(view.results[0].message.startsWith(QStringLiteral("La connexion a échoué.")));
}

// ssh starts at home whatever folder the application was started from (ssh runs its
// configuration's commands, a proxy, through the shell, where a relative entry of PATH would
// find a program of that folder), and without the variables of a tmux around the application.
TEST(BootTermView, SshStartsAtHomeWithoutAnEnclosingTmux)
{
    test::TempFolder folder;
    const QString home = folder.file(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(folder.file(QStringLiteral("started-here"))));
    test::EnvironmentOverride environment("HOME", home);
    environment.set("TMUX", folder.file(QStringLiteral("other")) + QStringLiteral(",4242,0"));
    environment.set("TMUX_PANE", QStringLiteral("%0"));
    const QString noted = folder.file(QStringLiteral("noted"));
    const QString ssh = folder.file(QStringLiteral("ssh"));
    ASSERT_TRUE(test::writeAll(ssh, "#!/bin/sh\n{ pwd; echo \"${TMUX-none} ${TMUX_PANE-none}\"; } > " +
                                        shellQuote(noted).toUtf8() + "\n"));
    ASSERT_TRUE(QFile::setPermissions(ssh, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const struct Back {
        QString program = SSHLink::program();
        QString here = QDir::currentPath();
        ~Back()
        {
            SSHLink::setProgramForTests(program);
            QDir::setCurrent(here);
        }
    } back;
    SSHLink::setProgramForTests(ssh);
    ASSERT_TRUE(QDir::setCurrent(folder.file(QStringLiteral("started-here"))));

    RecordingBootView view;
    view.bootStart(test::ViewsWorkspace::profile(QStringLiteral("p1"), QStringLiteral("srv")), view.finished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.results.empty(); }, 20000));
    EXPECT_EQ(QString::fromUtf8(test::readAll(noted)).toStdString(),
              (QDir(home).canonicalPath() + QStringLiteral("\nnone none\n")).toStdString());
}

// The remember box promises a kept password only where a keychain answers; without one it is
// off, cannot be ticked and says why, and a typed password is not written anywhere.
TEST(ConnectSheet, WithoutAKeychainTheRememberBoxIsOffDisabledAndSaysWhy)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    // Nothing listens on a port just given back: ssh fails at once, on this computer only.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const MacProfile profile = test::ViewsWorkspace::profile(QStringLiteral("p1"), QStringLiteral("127.0.0.1"),
                                                             QString(), closed.serverPort());
    closed.close();
    for (const bool available : {true, false}) {
        SCOPED_TRACE(available ? "a keychain" : "no keychain");
        auto backend = std::make_unique<MemorySecretBackend>();
        backend->setAvailable(available);
        SecretStore store(std::move(backend));
        ConnectSheet sheet(profile, [](std::shared_ptr<SSHLink>) {}, nullptr);
        sheet.keychain = &store;
        sheet.open();
        auto* toggle = sheet.findChild<QCheckBox*>();
        ASSERT_NE(toggle, nullptr);
        QLabel* missing = nullptr;
        for (QLabel* label : sheet.findChildren<QLabel*>()) {
            if (label->text() == QStringLiteral("Aucun trousseau disponible : le mot de passe ne sera pas mémorisé."))
                missing = label;
        }
        ASSERT_NE(missing, nullptr);
        // Questions to the keychain may be answered in any order: wait for the sheet's own.
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.keychainAvailable().has_value(); }, 10000));
        EXPECT_EQ(sheet.keychainAvailable(), available);
        EXPECT_EQ(toggle->isChecked(), available);
        EXPECT_EQ(toggle->isEnabled(), available);
        EXPECT_EQ(missing->isVisible(), !available);
        EXPECT_EQ(sheet.terminal()->view()->remember, available);
        EXPECT_EQ(missing->textFormat(), Qt::PlainText);
        if (!available) {
            // The whole sentence, inside the sheet, under no other control.
            QCoreApplication::processEvents();
            const QRect shown(missing->mapTo(&sheet, QPoint(0, 0)), missing->size());
            EXPECT_TRUE(sheet.rect().contains(shown)) << shown.x() << "+" << shown.width() << " in " << sheet.width();
            const QRect needed =
                missing->fontMetrics().boundingRect(QRect(0, 0, shown.width(), 10000), Qt::TextWordWrap, missing->text());
            EXPECT_TRUE(needed.width() <= shown.width() && needed.height() <= shown.height())
                << needed.width() << "x" << needed.height() << " in " << shown.width() << "x" << shown.height();
            for (const QWidget* other : sheet.findChildren<QWidget*>()) {
                if (other->isVisible() && other != missing && !other->isAncestorOf(missing)
                    && !missing->isAncestorOf(other) && (other->inherits("QAbstractButton") || other->inherits("QLabel"))) {
                    const QRect place(other->mapTo(&sheet, QPoint(0, 0)), other->size());
                    EXPECT_FALSE(place.intersects(shown)) << other->metaObject()->className();
                }
            }
        }
        sheet.reject();
    }
}

class ConnectSheetServer : public testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::SshServer({.passwordLogin = true}); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        ASSERT_TRUE(server->running()) << server->failure().toStdString();
        SSHLink::setProgramForTests(server->passwordClient());
    }
    void TearDown() override
    {
        QCoro::waitFor(SSHLink(profile).closeMaster());
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
    }
    // Opens the sheet as the servers sheet does; `answer` is typed at the first password prompt.
    void open(const QByteArray& answer = {})
    {
        reports.clear();
        const auto done = [this](std::shared_ptr<SSHLink> link) { reports.push_back(link); };
        sheet = std::make_unique<ConnectSheet>(profile, done, nullptr);
        sheet->keychain = &w.keychain;
        sheet->open();
        if (!answer.isEmpty())
            typeAtPrompt(view(), answer);
    }
    static void typeAtPrompt(BootTermView& boot, const QByteArray& answer)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return boot.buffer.contains(QStringLiteral("password:")); }, 20000));
        boot.sendUserInput(bytes(answer.toStdString()));
    }
    bool ended() { return QTest::qWaitFor([&] { return !reports.empty() || sheet->failed(); }, 20000); }
    BootTermView& view() { return *sheet->terminal()->view(); }

    static test::SshServer* server;
    // The control sockets live below HOME: keep it short. The model asks the real server.
    test::TempFolder home;
    test::EnvironmentOverride environment{"HOME", home.path()};
    test::ViewsWorkspace w{QString(), false};
    MacProfile profile = server->profile();
    std::unique_ptr<ConnectSheet> sheet;
    std::vector<std::shared_ptr<SSHLink>> reports;
};

test::SshServer* ConnectSheetServer::server = nullptr;

// The whole road of a new server: the typed ssh line is saved, the silent connection fails
// (the account takes only a password), the first-connection sheet opens over the servers sheet,
// the password typed into its terminal logs in and is remembered, and the server is attached.
// Next time the remembered password is typed once, by the sheet.
TEST_F(ConnectSheetServer, AQuickConnectLineEndsWithTheServerAttachedAndThePasswordRemembered)
{
    const test::PasswordWindow window;
    ASSERT_TRUE(window.failure.isEmpty()) << window.failure.toStdString();
    ServersView servers(w.model, std::nullopt, nullptr);
    servers.open();
    servers.quickField->setText(QStringLiteral("ssh -p %1 %2@127.0.0.1").arg(server->port()).arg(test::SshServer::user));
    servers.quickConnect();
    ASSERT_EQ(w.model.profiles().size(), 1);
    profile = w.model.profiles().front();
    EXPECT_TRUE(profile.port == server->port() && profile.host == QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(servers.quickField->text().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return servers.connecting != nullptr; }, 30000)) << "no first-connection sheet";
    auto* first = qobject_cast<ConnectSheet*>(servers.connecting.data());
    ASSERT_NE(first, nullptr);
    BootTermView& boot = *first->terminal()->view();
    typeAtPrompt(boot, test::SshServer::password + QByteArray("\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.model.connection(profile.id) != nullptr; }, 30000))
        << boot.buffer.toStdString();
    MacConnection& attached = *w.model.connection(profile.id);
    EXPECT_EQ(attached.link->remoteHome(), server->remoteHome());
    EXPECT_EQ(w.password(profile.id), QString::fromLatin1(test::SshServer::password));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !servers.isVisible(); }, 10000));
    // The login opened the shared connection: a batch command, which never asks for a
    // password, rides on it.
    const ShellResult<QString> echoed = QCoro::waitFor(attached.link->runCommand(QStringLiteral("echo ok"), std::nullopt, 25));
    EXPECT_EQ(echoed ? echoed.value() : echoed.error().message, QStringLiteral("ok\n"));
    QCoro::waitFor(w.model.disconnect(attached));
    QCoro::waitFor(SSHLink(profile).closeMaster());
    open();
    ASSERT_TRUE(ended() && !reports.empty() && reports[0] && !sheet->isVisible()) << view().buffer.toStdString();
    EXPECT_EQ(view().buffer.count(QStringLiteral("password:")), 1);
    EXPECT_NE(screen(view()).find("(mot de passe mémorisé saisi automatiquement)"), std::string::npos);
}

TEST_F(ConnectSheetServer, UnresolvableHostAndWrongPasswordAreToldApart)
{
    // One password prompt only, so that a wrong answer ends ssh at once.
    const QString oneTry = home.file(QStringLiteral("ssh-one-try"));
    ASSERT_TRUE(test::writeAll(oneTry, "#!/bin/sh\nexec '" + QFile::encodeName(server->passwordClient())
                                           + "' -o NumberOfPasswordPrompts=1 \"$@\"\n"));
    QFile::setPermissions(oneTry, QFile::ReadOwner | QFile::ExeOwner);
    SSHLink::setProgramForTests(oneTry);
    for (const auto& [host, answer, message] :
         {std::tuple{"nonexistent.invalid", "", "Serveur injoignable. Vérifie le réseau et que Tailscale est lancé."},
          std::tuple{"127.0.0.1", "faux\r",
                     "La connexion a échoué. Vérifie l'hôte, le port, l'utilisateur, puis le mot de passe ou la clé."}}) {
        profile.host = QString::fromLatin1(host);
        open(answer);
        ASSERT_TRUE(ended() && reports.empty()) << view().buffer.toStdString();
        EXPECT_EQ(sheet->failed(), QString::fromUtf8(message));
        EXPECT_EQ(sheet->findChild<QPushButton*>()->text(), QStringLiteral("Fermer"));
        EXPECT_FALSE(w.password(profile.id).has_value());
    }
}

TEST_F(ConnectSheetServer, CancelWhileSshWaitsEndsItAndReportsNothing)
{
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view().gotOutput; }, 20000));
    const pid_t ssh = view().process->shellPid();
    ASSERT_GT(ssh, 0);
    sheet->findChild<QCheckBox*>()->setChecked(false);
    EXPECT_FALSE(view().remember);
    QTest::mouseClick(sheet->findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(ssh, 0) != 0 && errno == ESRCH; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(reports, std::vector<std::shared_ptr<SSHLink>>{nullptr});
    EXPECT_FALSE(sheet->failed());
}

// Escape is the sheet's way out at any point, also while its terminal has the keyboard; every
// other key still goes to ssh.
TEST_F(ConnectSheetServer, EscapeInTheTerminalClosesTheSheetWhileOtherKeysReachSsh)
{
    // Nothing listens on a port just given back: ssh fails at once.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const MacProfile working = profile;
    profile.port = closed.serverPort();
    closed.close();
    open();
    ASSERT_TRUE(ended() && sheet->failed()) << view().buffer.toStdString();
    view().setFocus();
    QTest::keyClick(&view(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(reports, std::vector<std::shared_ptr<SSHLink>>{nullptr});
    // While ssh asks for the password: typed keys reach it, Escape ends it and closes the sheet.
    profile = working;
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view().buffer.contains(QStringLiteral("password:")); }, 20000));
    const pid_t ssh = view().process->shellPid();
    ASSERT_GT(ssh, 0);
    view().setFocus();
    QTest::keyClicks(&view(), QStringLiteral("abc"));
    EXPECT_EQ(view().typing, QByteArray("abc"));
    QTest::keyClick(&view(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(ssh, 0) != 0 && errno == ESRCH; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(reports, std::vector<std::shared_ptr<SSHLink>>{nullptr});
    EXPECT_FALSE(sheet->failed());
}

} // namespace
} // namespace halvoren
