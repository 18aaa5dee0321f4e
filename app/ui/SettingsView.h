// The settings window: projects folders, text size, version.
#pragma once

#include "workspace/MacModel.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QVBoxLayout;

namespace halvoren {

// The folder the first-run sheet proposes: the first projects root, else the home folder +
// "/projets".
QString defaultProjectsRoot(const Prefs& prefs);

// The version row: the short version, then the build number in parentheses.
QString versionText(const QString& shortVersion, qint64 build);

// The size label: the size cut to a whole number, then " pt".
QString fontSizeText(double size);

class SettingsView : public QWidget {
    Q_OBJECT

public:
    SettingsView(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;

    // The roots shown: a copy of the stored list, read again after each add or remove.
    QStringList roots;

    // Asks the user for a folder; nothing when cancelled.
    std::function<std::optional<QString>()> chooseFolder;

    Task<> addRoot();
    Task<> removeRoot(QString path);
    void reloadRoots();
    // The slider's position, as dragged: the size becomes the nearest whole number.
    void setSliderValue(double value);

    // What the view shows, for whoever drives it.
    QSlider* sizeSlider() const { return slider; }
    QLabel* sizeLabel() const { return sizeValue; }
    QLabel* versionLabel() const { return versionValue; }
    // The scrolled list of the roots.
    QScrollArea* rootsList() const { return rootList; }
    // The minus buttons of the roots, in list order.
    QList<QPushButton*> removeButtons() const;

private:
    void showRoots();
    void showFontSize();

    QScrollArea* rootList = nullptr;
    QVBoxLayout* rootRows = nullptr;
    QSlider* slider = nullptr;
    QLabel* sizeValue = nullptr;
    QLabel* versionValue = nullptr;
};

} // namespace halvoren
