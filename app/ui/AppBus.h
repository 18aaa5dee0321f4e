// The application's in-process notifications: the menus, the sidebar and the main window talk
// through these instead of holding each other. One signal per notification name; every one is
// emitted and received on the main thread.
#pragma once

#include "ui/PickerRequest.h"

#include <QObject>
#include <QString>
#include <QVariant>

namespace halvoren {

class AppBus : public QObject {
    Q_OBJECT

public:
    static inline const QString showServersName = QStringLiteral("hv.showServers");
    static inline const QString toggleSidebarName = QStringLiteral("hv.toggleSidebar");
    static inline const QString connectProfileName = QStringLiteral("hv.connectProfile");
    static inline const QString showPickerName = QStringLiteral("hv.showPicker");

    static AppBus& shared();

Q_SIGNALS:
    // "hv.showServers": open the servers sheet.
    void showServers();
    // "hv.toggleSidebar": show or hide the projects sidebar.
    void toggleSidebar();
    // "hv.connectProfile": a silent connect of this profile failed; connect it interactively.
    void connectProfile(const QString& profileID);
    // "hv.showPicker": the object travels as posted; receivers act only on a PickerRequest.
    void showPicker(const QVariant& object);
};

} // namespace halvoren
