// Halvoren: the workspace window over the one model of the process.
#include "ui/HalvorenMacApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The settings window's version line reads it.
    QApplication::setApplicationVersion(QStringLiteral(HALVOREN_VERSION));
    halvoren::HalvorenMacApp app;
    return app.run();
}
