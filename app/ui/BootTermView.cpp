#include "ui/BootTermView.h"
#include "remote/HostText.h"

#include "settings/ProfileStore.h"
#include "platform/DetachedProcess.h"
#include "platform/SecretStore.h"
#include "tab/MacTab.h"

#include <QFile>
#include <QPointer>
#include <QTimer>

#include <array>

namespace halvoren {

namespace {

// Removes the last UTF-8 character of `bytes` (a lead byte and up to three continuation bytes),
// as the terminal's line editing erases a whole character.
void dropLastCharacter(QByteArray& bytes)
{
    qsizetype end = bytes.size();
    int continuations = 0;
    while (end > 0 && continuations < 3 && (quint8(bytes[end - 1]) & 0xC0) == 0x80) {
        --end;
        ++continuations;
    }
    if (end > 0 && (continuations == 0 || quint8(bytes[end - 1]) >= 0xC0))
        --end;
    bytes.truncate(end);
}

// The text of `bytes` when they are complete, valid UTF-8.
std::optional<QString> strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void wipe(QByteArray& bytes)
{
    bytes.fill('\0');
    bytes.clear();
}

} // namespace

BootTermView::BootTermView(const QRect& frame, QWidget* parent)
    : LocalProcessTerminalView(frame, std::nullopt, corvantix::TerminalOptions::defaultOptions(), parent)
{
    // Only a server's programs write here: they may not name this computer's files.
    corvantix::TerminalOptions options = getTerminal().options();
    options.fedByRemoteHost = true;
    getTerminal().setOptions(options);
    // Links open as a tab's do; without an opener the sheet says so.
    openUrl = [this](const QUrl& url) {
        if (!openOnDesktop(url) && onLinkNotOpened)
            onLinkNotOpened();
    };
}

SecretStore& BootTermView::secrets() const
{
    return keychain != nullptr ? *keychain : SecretStore::standard();
}

Task<> BootTermView::bootStart(MacProfile profile, std::function<void(BootResult)> done)
{
    finished = std::move(done);
    link = std::make_shared<SSHLink>(profile);
    controlDirectory();
    QPointer<BootTermView> self(this);
    const std::optional<QString> password = co_await secrets().secureRead(ProfileStore::passwordKey(profile.id));
    // Torn down while the keychain answered: no ssh at all.
    if (!self || !finished)
        co_return;
    if (password)
        autofill.emplace(*password);

    // A host or user that ssh would read as an option is never passed to it.
    if (isUsableProfile(profile)) {
        EnvironmentMap environment = childEnvironmentMap();
        environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
        QStringList arguments = link->interactiveArgs();
        arguments << link->destination() << QStringLiteral("echo \"") + readyMarker + QStringLiteral("$HOME\"");
        startProcess(local8(SSHLink::program()), local8(arguments), local8(environmentStrings(environment)),
                     std::string("ssh"), local8(Shell::startFolder()));
    }
    if (!process->running()) {
        // No child means no end will ever be reported: end the attempt as ssh's end would.
        QTimer::singleShot(0, this, [this] { bootExited(); });
        co_return;
    }
    QTimer::singleShot(watchdogDelay, this, [this] { bootWatchdog(); });
}

void BootTermView::teardown()
{
    finished = nullptr;
    terminate();
}

void BootTermView::send(corvantix::TerminalView&, std::span<const std::uint8_t> data)
{
    process->send(data);
    if (!capturing)
        return;
    for (const std::uint8_t byte : data) {
        if (byte == 0x08 || byte == 0x7F) {
            dropLastCharacter(typing);
        } else if (byte == 0x0D || byte == 0x0A) {
            capturing = false;
            if (!typing.isEmpty()) {
                // Bytes that are not UTF-8 cannot be stored as typed: better none than a
                // password that differs from the one that logged in.
                typedPassword = strictUtf8(typing);
            }
            wipe(typing);
            return;
        } else if (byte == 0x15) {
            // The terminal's kill character: the line typed so far is gone for ssh too.
            wipe(typing);
        } else if (byte >= 0x20) {
            typing.append(char(byte));
        }
    }
}

void BootTermView::processTerminated(corvantix::LocalProcess& source, std::optional<std::int32_t> exitCode)
{
    LocalProcessTerminalView::processTerminated(source, exitCode);
    // The view is the timer's context: a sheet closed meanwhile gets no late work.
    QTimer::singleShot(0, this, [this] { bootExited(); });
}

void BootTermView::appendToBuffer(const QString& text)
{
    buffer += text;
    if (buffer.size() <= bufferLimit)
        return;
    qsizetype cut = buffer.size() - bufferLimit;
    if (buffer.at(cut).isLowSurrogate())
        ++cut;
    buffer.remove(0, cut);
}

void BootTermView::dataReceived(std::span<const std::uint8_t> slice)
{
    feedBytes(slice);
    gotOutput = true;
    // Stateful: a character cut between two chunks is decoded whole.
    const QString text = decoder.decode(QByteArrayView(reinterpret_cast<const char*>(slice.data()), qsizetype(slice.size())));
    appendToBuffer(text);

    std::optional<QString> reply;
    if (autofill)
        reply = autofill->feed(text);
    if (reply) {
        QByteArray bytes = reply->toUtf8();
        sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size())));
        wipe(bytes);
        feedText("\r\n\x1b[90m(mot de passe mémorisé saisi automatiquement)\x1b[0m\r\n");
    } else {
        const qsizetype lineBreak = std::max(buffer.lastIndexOf(u'\r'), buffer.lastIndexOf(u'\n'));
        if (matchesPasswordPrompt(buffer.mid(lineBreak + 1))) {
            capturing = true;
            wipe(typing);
        }
    }
    checkReady();
}

void BootTermView::checkReady()
{
    if (!finished)
        return;
    const qsizetype marker = buffer.indexOf(readyMarker);
    if (marker < 0)
        return;
    const qsizetype from = marker + readyMarker.size();
    qsizetype lineEnd = -1;
    for (qsizetype at = from; at < buffer.size(); ++at) {
        if (buffer.at(at) == u'\r' || buffer.at(at) == u'\n') {
            lineEnd = at;
            break;
        }
    }
    // The rest of the line is still on its way.
    if (lineEnd < 0)
        return;
    link->setRemoteHome(buffer.mid(from, lineEnd - from).trimmed());
    if (remember && typedPassword) {
        // Fire and forget: a failing keychain write is not reported.
        Task<> writing = secrets().secureWrite(ProfileStore::passwordKey(link->profile().id), *typedPassword);
    }
    const std::function<void(BootResult)> done = std::move(finished);
    finished = nullptr;
    terminate();
    done(BootResult{link, QString()});
}

void BootTermView::bootExited()
{
    // A marker that came with the last output still counts.
    checkReady();
    if (!finished)
        return;
    const std::function<void(BootResult)> done = std::move(finished);
    finished = nullptr;
    done(BootResult{nullptr, failureMessage(buffer)});
}

void BootTermView::bootWatchdog()
{
    if (gotOutput || !finished)
        return;
    feedText("\x1b[90mLe serveur ne répond pas encore… Vérifie le réseau et que Tailscale est lancé.\x1b[0m\r\n");
}

QString BootTermView::failureMessage(const QString& output)
{
    // What ssh prints when the network, not the login, is at fault.
    static const std::array<QLatin1StringView, 5> unreachable = {
        QLatin1StringView("timed out"), QLatin1StringView("No route to host"), QLatin1StringView("Connection refused"),
        QLatin1StringView("Network is unreachable"), QLatin1StringView("Could not resolve hostname")};
    for (const QLatin1StringView phrase : unreachable) {
        if (output.contains(phrase, Qt::CaseInsensitive))
            return QStringLiteral("Serveur injoignable. Vérifie le réseau et que Tailscale est lancé.");
    }
    return QStringLiteral("La connexion a échoué. Vérifie l'hôte, le port, l'utilisateur, puis le mot de passe ou la clé.");
}

} // namespace halvoren
