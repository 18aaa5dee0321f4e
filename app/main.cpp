// Halvoren: the workspace window over the one model of the process.
#include "ui/HalvorenMacApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    halvoren::HalvorenMacApp app;
    return app.run();
}
