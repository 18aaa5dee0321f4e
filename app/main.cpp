// Halvoren: the workspace window over the one model of the process.
#include "platform/Log.h"
#include "platform/PreferenceStore.h"
#include "platform/ProcessSignals.h"
#include "platform/SingleInstance.h"
#include "platform/Translations.h"
#include "ui/HalvorenMacApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // First, before any thread or child exists: what it ignores holds for every thread.
    halvoren::setUpProcessSignals();
    QApplication application(argc, argv);
    // Before the model exists: a second launch with this configuration must not start tmux,
    // reach a server or write the preferences; it asks the running one for its window instead.
    halvoren::SingleInstance instance(halvoren::configDirectory());
    switch (instance.claim()) {
    case halvoren::SingleInstance::Claim::first:
        // Teardown goes on after main returns (the keychain's threads, static objects): the
        // folder stays ours until the process has really ended.
        instance.holdUntilExit();
        break;
    case halvoren::SingleInstance::Claim::forwarded:
        return 0;
    case halvoren::SingleInstance::Claim::unanswered:
        // The folder is held, so starting anyway would be the very fault the guard prevents.
        corvantix::logError("instance: another process holds " + halvoren::configDirectory().toStdString()
                            + " and does not answer; not starting a second one");
        return 1;
    }
    // Before any widget: Qt's dialogs and the key names of every shortcut text in French.
    halvoren::installFrenchInterface();
    // The settings window's version line reads it.
    QApplication::setApplicationVersion(QStringLiteral(HALVOREN_VERSION));
    halvoren::HalvorenMacApp app;
    QObject::connect(&instance, &halvoren::SingleInstance::raiseRequested, &app, &halvoren::HalvorenMacApp::bringForward);
    return app.run();
}
