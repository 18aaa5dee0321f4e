// The server editor: the form in which the user creates or changes one saved server and,
// optionally, the password typed for it. It saves through the model and never connects.
#pragma once

#include "workspace/MacModel.h"
#include "settings/MacProfile.h"

#include <QDialog>
#include <QString>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace halvoren {

// Whether a name holds nothing but spaces, tabs and other space separators (line breaks count
// as text).
bool isBlankName(const QString& name);

// Why the profile cannot be saved, or nothing. A host or user that ssh would read as an
// option, or that holds white space or control characters, is refused: it goes to ssh as a
// bare argument.
std::optional<QString> profileProblem(const MacProfile& profile);

class ProfileEditor : public QDialog {
    Q_OBJECT

public:
    static inline const QString hostRefused = QStringLiteral(
        "Hôte refusé : il ne peut ni commencer par « - » ni contenir d'espace ou de caractère de contrôle.");
    static inline const QString userRefused = QStringLiteral("Utilisateur refusé : il ne peut ni commencer par « - » "
                                                             "ni contenir d'espace ou de caractère de contrôle.");

    ProfileEditor(MacModel& model, MacProfile profile, QWidget* parent);

    MacModel& model;
    // The profile as handed in; the fields hold the edits until "Enregistrer".
    MacProfile profile;

    // Blank name → the host; saves the profile, and the password when one was typed; closes.
    // A refused host or user only shows why.
    void save();
    // The profile as the fields describe it.
    MacProfile edited() const;

    QLineEdit* nameField = nullptr;
    QLineEdit* hostField = nullptr;
    QSpinBox* portField = nullptr;
    QLineEdit* userField = nullptr;
    QLineEdit* rootField = nullptr;
    QLineEdit* passwordField = nullptr;
    QLabel* problemLabel = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* saveButton = nullptr;
};

} // namespace halvoren
