// A later run of the application's notifier, for the notifier test: it reads the state file
// named on the command line and takes commands on standard input, one a line: "post <key>
// <title>" and "clear <key>". It prints "ready" once it listens to the server's signals,
// "tap <key>" for every click that reaches it, and ends, its state written, at the end of its
// input.
#include "platform/Notifier.h"
#include "platform/PreferenceStore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <iostream>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <state file>\n";
        return 2;
    }
    halvoren::PreferenceStore state(QString::fromLocal8Bit(argv[1]));
    auto* notifier = new halvoren::Notifier(QDBusConnection::sessionBus(), &state);
    notifier->onTap = [](const QString& key) { std::cout << "tap " << key.toStdString() << std::endl; };
    // One round trip after subscribing: the bus has taken the subscription before the test
    // makes the server speak.
    QDBusConnection::sessionBus().interface()->serviceOwner(QStringLiteral("org.freedesktop.Notifications"));
    std::cout << "ready" << std::endl;

    std::thread reader([notifier] {
        std::string line;
        while (std::getline(std::cin, line)) {
            const QString command = QString::fromStdString(line);
            QMetaObject::invokeMethod(notifier, [notifier, command] {
                const QString verb = command.section(u' ', 0, 0);
                const QString key = command.section(u' ', 1, 1);
                if (verb == QStringLiteral("post"))
                    notifier->post(key, command.section(u' ', 2));
                else if (verb == QStringLiteral("clear"))
                    notifier->clear(key);
            });
        }
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); });
    });
    const int status = QCoreApplication::exec();
    reader.join();
    delete notifier;
    // The state's destruction waits for the file to be written.
    return status;
}
