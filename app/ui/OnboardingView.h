// The first-run sheet: welcomes the user and asks for the folder whose sub-folders are this
// computer's projects. "Commencer" keeps that folder as the only projects root, notes that the
// first run is over and lists the projects under it; the sheet has no other way out.
#pragma once

#include "ui/PlainText.h"
#include "workspace/MacModel.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace halvoren {

// Asks for one folder (folders only, starting in the home folder); its path, or nothing when
// the user cancels. Blocks until the chooser closes.
std::optional<QString> chooseFolder(QWidget* parent = nullptr);
// Tests put a chooser of their own here; chooseFolder then calls it instead of the dialog.
std::function<std::optional<QString>()>& chooseFolderReplacement();

// The first stored projects root, else the home folder + "/projets".
QString defaultOnboardingRoot(const Prefs& prefs);

class OnboardingView : public QDialog {
    Q_OBJECT

public:
    // Its fixed width, and the height its wrapped texts take at that width.
    QSize sizeHint() const override;

    explicit OnboardingView(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;
    // The folder shown and stored.
    QString root;

    // "Choisir…": a chosen folder replaces the shown one; cancelling keeps it.
    void choose();
    // "Commencer".
    void begin();

    ElidedLabel* rootLabel = nullptr;
    QPushButton* chooseButton = nullptr;
    QPushButton* beginButton = nullptr;

    // Escape and the window's close button do nothing: the sheet ends only by "Commencer".
    void reject() override;
};

} // namespace halvoren
