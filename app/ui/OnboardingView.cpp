#include "ui/OnboardingView.h"

#include "style/Palette.h"
#include "ui/Icons.h"
#include "ui/PlainText.h"
#include "style/VisibleText.h"

#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvoren {

namespace {

QString cssColor(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alphaF());
}

QLabel* mutedLabel(const QString& text, QWidget* parent)
{
    QLabel* label = new WrappedLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(mutedTextColor())));
    return label;
}

} // namespace

std::function<std::optional<QString>()>& chooseFolderReplacement()
{
    static std::function<std::optional<QString>()> replacement;
    return replacement;
}

std::optional<QString> chooseFolder(QWidget* parent)
{
    if (chooseFolderReplacement())
        return chooseFolderReplacement()();
    const QString chosen = QFileDialog::getExistingDirectory(parent, QString(), QDir::homePath(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

QString defaultOnboardingRoot(const Prefs& prefs)
{
    const QStringList roots = prefs.projectsRoots();
    return roots.isEmpty() ? QDir::homePath() + QStringLiteral("/projets") : roots.front();
}

OnboardingView::OnboardingView(MacModel& model, QWidget* parent)
    : QDialog(parent), model(model), root(defaultOnboardingRoot(model.prefs))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Bienvenue dans Halvoren"));
    setFixedWidth(520);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("appIcon"));
    icon->setFixedSize(56, 56);
    icon->setPixmap(applicationIcon().pixmap(56, 56));
    header->addWidget(icon, 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    QLabel* title = plainLabel(QStringLiteral("Bienvenue dans Halvoren"), this);
    QFont titleFont = title->font();
    titleFont.setPixelSize(17);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    titles->addWidget(title);
    titles->addWidget(mutedLabel(
        QStringLiteral("Un onglet par projet, des sessions tmux qui survivent à tout, partagées avec l'iPhone."), this));
    header->addLayout(titles, 1);
    column->addLayout(header);

    auto* question
        = new WrappedLabel(QStringLiteral("Où sont tes projets ? Chaque sous-dossier devient un projet ouvrable d'un clic."), this);
    column->addWidget(question);

    auto* folderRow = new QHBoxLayout;
    // A long path gives way to the button with "…" where it reads last, and reads whole in
    // the tooltip; it never widens the sheet, which keeps its spacing.
    rootLabel = new ElidedLabel(visibleText(root), this);
    rootLabel->showWholeTextInToolTip();
    rootLabel->setObjectName(QStringLiteral("root"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(12);
    rootLabel->setFont(mono);
    rootLabel->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    rootLabel->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 6px; padding: 8px;").arg(cssColor(fieldBackgroundColor())));
    rootLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    folderRow->addWidget(rootLabel, 1);
    chooseButton = new QPushButton(QStringLiteral("Choisir…"), this);
    // Return belongs to "Commencer" even while this button has the focus.
    chooseButton->setAutoDefault(false);
    connect(chooseButton, &QPushButton::clicked, this, &OnboardingView::choose);
    folderRow->addWidget(chooseButton);
    column->addLayout(folderRow);

    auto* servers = mutedLabel(
        QStringLiteral("Les serveurs SSH s'ajoutent ensuite avec le bouton « Serveurs » de la barre d'outils."), this);
    QFont callout = servers->font();
    callout.setPixelSize(12);
    servers->setFont(callout);
    column->addWidget(servers);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    beginButton = new QPushButton(QStringLiteral("Commencer"), this);
    beginButton->setDefault(true);
    connect(beginButton, &QPushButton::clicked, this, &OnboardingView::begin);
    bottom->addWidget(beginButton);
    column->addLayout(bottom);
}

void OnboardingView::choose()
{
    if (std::optional<QString> chosen = chooseFolder(this)) {
        root = *chosen;
        rootLabel->setFullText(visibleText(root));
    }
}

void OnboardingView::begin()
{
    model.prefs.setProjectsRoots({root});
    model.prefs.setOnboardingDone(true);
    // The listing goes on after the sheet is gone; the model owns it.
    model.refreshProjects(*model.connections().front());
    accept();
}

void OnboardingView::reject() {}

QSize OnboardingView::sizeHint() const
{
    return fixedWidthSheetSize(*this);
}

} // namespace halvoren
