#include "ui/ProfileEditor.h"

#include "settings/ProfileStore.h"
#include "platform/SecretStore.h"
#include "style/Palette.h"
#include "ui/PlainText.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace halvoren {

bool isBlankName(const QString& name)
{
    for (const QChar c : name) {
        if (c != u'\t' && c.category() != QChar::Separator_Space)
            return false;
    }
    return true;
}

std::optional<QString> profileProblem(const MacProfile& profile)
{
    if (!isSafeSSHName(profile.host))
        return ProfileEditor::hostRefused;
    if (!isSafeSSHName(profile.username))
        return ProfileEditor::userRefused;
    return std::nullopt;
}

namespace {

QLabel* secondaryLabel(const QString& text, int points, QWidget* parent)
{
    QLabel* label = plainLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(points);
    label->setFont(font);
    label->setWordWrap(true);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, Palette::secondaryText());
    label->setPalette(colours);
    return label;
}

} // namespace

ProfileEditor::ProfileEditor(MacModel& model, MacProfile profile, QWidget* parent)
    : QDialog(parent), model(model), profile(std::move(profile))
{
    setWindowTitle(QStringLiteral("Serveur"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(460);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(14);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    // Labels above their fields: beside them, the host's long label leaves its field too narrow.
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    form->setVerticalSpacing(6);

    nameField = new QLineEdit(this->profile.name, this);
    hostField = new QLineEdit(this->profile.host, this);
    portField = new QSpinBox(this);
    // Read as a number, not a quantity: never "2.222" or "2 222".
    portField->setGroupSeparatorShown(false);
    portField->setButtonSymbols(QAbstractSpinBox::NoButtons);
    portField->setRange(1, 65535);
    portField->setValue(this->profile.port);
    userField = new QLineEdit(this->profile.username, this);
    rootField = new QLineEdit(this->profile.projectsRoot, this);
    // Never filled with the stored password: empty means "keep it".
    passwordField = new QLineEdit(this);
    passwordField->setEchoMode(QLineEdit::Password);

    form->addRow(QStringLiteral("Nom"), nameField);
    form->addRow(QStringLiteral("Hôte (nom Tailscale, IP ou alias ~/.ssh/config)"), hostField);
    form->addRow(QStringLiteral("Port"), portField);
    form->addRow(QStringLiteral("Utilisateur"), userField);
    form->addRow(QStringLiteral("Dossier des projets"), rootField);
    form->addRow(QStringLiteral("Mot de passe mémorisé (facultatif)"), passwordField);
    stack->addLayout(form);
    stack->addWidget(secondaryLabel(
        QStringLiteral("La connexion passe par le ssh de cet ordinateur : clés ~/.ssh, agent et ~/.ssh/config sont "
                       "utilisés tels quels."),
        10, this));

    problemLabel = plainLabel(QString(), this);
    problemLabel->setWordWrap(true);
    QPalette alert = problemLabel->palette();
    alert.setColor(QPalette::WindowText, Palette::alert());
    problemLabel->setPalette(alert);
    problemLabel->hide();
    stack->addWidget(problemLabel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelButton = new QPushButton(QStringLiteral("Annuler"), this);
    cancelButton->setAutoDefault(false);
    saveButton = new QPushButton(QStringLiteral("Enregistrer"), this);
    saveButton->setDefault(true);
    buttons->addWidget(cancelButton);
    buttons->addWidget(saveButton);
    stack->addLayout(buttons);

    const auto hostChanged = [this] {
        // Only the exactly empty host disables it; a host of blanks is answered on saving.
        saveButton->setEnabled(!hostField->text().isEmpty());
        problemLabel->hide();
    };
    hostChanged();
    QObject::connect(hostField, &QLineEdit::textChanged, this, hostChanged);
    QObject::connect(userField, &QLineEdit::textChanged, problemLabel, &QWidget::hide);
    QObject::connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    QObject::connect(saveButton, &QPushButton::clicked, this, &ProfileEditor::save);
}

MacProfile ProfileEditor::edited() const
{
    MacProfile result = profile;
    result.name = nameField->text();
    result.host = hostField->text();
    result.port = portField->value();
    result.username = userField->text();
    result.projectsRoot = rootField->text();
    return result;
}

void ProfileEditor::save()
{
    if (hostField->text().isEmpty())
        return;
    MacProfile result = edited();
    if (const std::optional<QString> problem = profileProblem(result)) {
        problemLabel->setText(*problem);
        problemLabel->show();
        return;
    }
    if (isBlankName(result.name))
        result.name = result.host;
    profile = result;
    model.saveProfile(profile);
    if (const QString password = passwordField->text(); !password.isEmpty())
        model.secrets().secureWrite(ProfileStore::passwordKey(profile.id), password);
    accept();
}

} // namespace halvoren
