#include "ui/SettingsView.h"

#include "workspace/MacUpdate.h"
#include "ui/Icons.h"
#include "ui/PlainText.h"
#include "style/VisibleText.h"
#include "style/Palette.h"
#include "ui/Shortcuts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace halvoren {

namespace {

constexpr int sliderWidth = 180;
constexpr int sizeLabelWidth = 44;

QLabel* caption(const QString& text, QWidget* parent)
{
    QLabel* label = plainLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(10);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Palette::secondaryText());
    label->setPalette(palette);
    return label;
}

QFont monospace(double points)
{
    QFont sized;
    sized.setPointSizeF(points);
    return fixedPitchFont(sized);
}

// The rounded, slightly lighter box of a section; painted rather than styled, so that the
// controls inside keep the window's dark palette.
class SectionBox final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 12));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

// One section of the form: its header, then a rounded box whose layout is returned.
QVBoxLayout* addSection(QVBoxLayout* form, const QString& title, QWidget* parent)
{
    QLabel* header = plainLabel(title, parent);
    QFont font = header->font();
    font.setWeight(QFont::DemiBold);
    header->setFont(font);
    form->addWidget(header);
    auto* box = new SectionBox(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(6);
    form->addWidget(box);
    return layout;
}

QPalette darkPalette(QPalette palette)
{
    palette.setColor(QPalette::Window, Palette::bar());
    palette.setColor(QPalette::Base, Palette::field());
    palette.setColor(QPalette::Button, Palette::field());
    palette.setColor(QPalette::WindowText, terminalForeground());
    palette.setColor(QPalette::Text, terminalForeground());
    palette.setColor(QPalette::ButtonText, terminalForeground());
    palette.setColor(QPalette::Highlight, Palette::accent());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, Palette::secondaryText());
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Palette::secondaryText());
    return palette;
}

// A frameless scroll area as tall as its rows when there is room, shorter (down to one row)
// when the window is not.
class RootList final : public QScrollArea {
public:
    explicit RootList(QWidget* parent) : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        viewport()->setAutoFillBackground(false);
    }
    QSize sizeHint() const override
    {
        const QSize content = widget() != nullptr ? widget()->sizeHint() : QSize();
        return QSize(QScrollArea::sizeHint().width(), std::max(content.height(), 0));
    }
    QSize minimumSizeHint() const override
    {
        const QLayout* rows = widget() != nullptr ? widget()->layout() : nullptr;
        const int row = rows != nullptr && rows->count() > 0 ? rows->itemAt(0)->sizeHint().height() : 0;
        return QSize(QScrollArea::minimumSizeHint().width(), std::min(sizeHint().height(), row));
    }
};

} // namespace

QString defaultProjectsRoot(const Prefs& prefs)
{
    const QStringList roots = prefs.projectsRoots();
    return roots.isEmpty() ? QDir::homePath() + QStringLiteral("/projets") : roots.front();
}

QString versionText(const QString& shortVersion, qint64 build)
{
    return shortVersion + QStringLiteral(" (") + QString::number(build) + u')';
}

QString fontSizeText(double size)
{
    return QString::asprintf("%lld pt", static_cast<long long>(size));
}

SettingsView::SettingsView(MacModel& model, QWidget* parent) : QWidget(parent), model(model)
{
    chooseFolder = [this]() -> std::optional<QString> {
        const QString path =
            QFileDialog::getExistingDirectory(this, QString(), QDir::homePath(), QFileDialog::ShowDirsOnly);
        if (path.isEmpty())
            return std::nullopt;
        return path;
    };
    setFixedSize(520, 440);
    setPalette(darkPalette(palette()));
    setAutoFillBackground(true);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(20, 16, 20, 16);
    form->setSpacing(6);

    QVBoxLayout* folders = addSection(form, QStringLiteral("Dossiers de projets (cet ordinateur)"), this);
    // The roots take the height the other sections leave, and scroll beyond it.
    rootList = new RootList(this);
    rootList->setObjectName(QStringLiteral("rootList"));
    auto* rootsHolder = new QWidget(rootList);
    rootsHolder->setAutoFillBackground(false);
    rootRows = new QVBoxLayout(rootsHolder);
    rootRows->setContentsMargins(0, 0, 0, 0);
    rootRows->setSpacing(4);
    rootList->setWidget(rootsHolder);
    folders->addWidget(rootList, 1);
    auto* add = new QPushButton(QStringLiteral("Ajouter un dossier…"), this);
    add->setObjectName(QStringLiteral("addRoot"));
    connect(add, &QPushButton::clicked, this, [this] { addRoot(); });
    folders->addWidget(add, 0, Qt::AlignLeft);

    QVBoxLayout* terminal = addSection(form, QStringLiteral("Terminal"), this);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(plainLabel(QStringLiteral("Taille du texte"), this));
    sizeRow->addStretch(1);
    slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(9, 28);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setFixedWidth(sliderWidth);
    sizeRow->addWidget(slider, 0, Qt::AlignVCenter);
    sizeValue = plainLabel(QString(), this);
    sizeValue->setFixedWidth(sizeLabelWidth);
    sizeValue->setFont(fixedPitchFont(font()));
    sizeValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sizeRow->addWidget(sizeValue, 0, Qt::AlignVCenter);
    terminal->addLayout(sizeRow);
    // The keys as the menu shows them.
    terminal->addWidget(caption(shortcuts::text(shortcuts::biggerTextEqual()) + QStringLiteral(" / ")
                                    + shortcuts::text(shortcuts::smallerText()) + QStringLiteral(" / ")
                                    + shortcuts::text(shortcuts::defaultText())
                                    + QStringLiteral(" depuis le menu Présentation."),
                                this));

    QVBoxLayout* about = addSection(form, QStringLiteral("À propos"), this);
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(plainLabel(QStringLiteral("Version"), this));
    versionRow->addStretch(1);
    versionValue = plainLabel(versionText(QCoreApplication::applicationVersion(), bundleBuild()), this);
    versionValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    versionRow->addWidget(versionValue);
    about->addLayout(versionRow);
    about->addWidget(
        caption(QStringLiteral("Halvoren — Dravik. Les sessions tmux sont partagées avec l'app iPhone."), this));
    form->addStretch(1);

    connect(slider, &QSlider::valueChanged, this, [this](int value) { setSliderValue(value); });
    connect(&model, &MacModel::fontSizeChanged, this, &SettingsView::showFontSize);
    showFontSize();
    reloadRoots();
}

Task<> SettingsView::addRoot()
{
    const std::optional<QString> path = chooseFolder ? chooseFolder() : std::nullopt;
    if (!path)
        co_return;
    QPointer<SettingsView> self(this);
    Task<> adding = model.addProjectsRoot(*path);
    co_await std::move(adding);
    if (self)
        self->reloadRoots();
}

Task<> SettingsView::removeRoot(QString path)
{
    QPointer<SettingsView> self(this);
    Task<> removing = model.removeProjectsRoot(std::move(path));
    co_await std::move(removing);
    if (self)
        self->reloadRoots();
}

void SettingsView::reloadRoots()
{
    roots = model.prefs.projectsRoots();
    showRoots();
}

void SettingsView::setSliderValue(double value)
{
    model.setFontSize(std::round(value));
}

QList<QPushButton*> SettingsView::removeButtons() const
{
    QList<QPushButton*> buttons;
    for (int i = 0; i < rootRows->count(); ++i) {
        if (QWidget* row = rootRows->itemAt(i)->widget())
            buttons << row->findChild<QPushButton*>(QStringLiteral("removeRoot"));
    }
    return buttons;
}

void SettingsView::showRoots()
{
    // A row may be going away from inside its own button's click: delete it later.
    while (QLayoutItem* item = rootRows->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    for (const QString& path : std::as_const(roots)) {
        auto* row = new QWidget(rootRows->parentWidget());
        row->setObjectName(QStringLiteral("rootRow"));
        row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* icon = new QLabel(row);
        icon->setPixmap(symbolIcon(u"folder", Palette::accent()).pixmap(16, 16));
        layout->addWidget(icon);
        // A long path gives way to its minus button, and reads whole in the tooltip.
        auto* text = new ElidedLabel(visibleText(path), row);
        text->setObjectName(QStringLiteral("rootPath"));
        text->setFont(monospace(12));
        text->showWholeTextInToolTip();
        layout->addWidget(text, 1);
        auto* remove = new QPushButton(symbolIcon(u"minus.circle", terminalForeground()), QString(), row);
        remove->setObjectName(QStringLiteral("removeRoot"));
        remove->setFlat(true);
        remove->setToolTip(plainToolTip(visibleText(path)));
        remove->setEnabled(roots.size() >= 2);
        connect(remove, &QPushButton::clicked, this, [this, path] { removeRoot(path); });
        layout->addWidget(remove);
        rootRows->addWidget(row);
    }
    // Its height follows the rows: the form gives it again what it now asks.
    rootList->updateGeometry();
}

void SettingsView::showFontSize()
{
    const QSignalBlocker quiet(slider);
    slider->setValue(static_cast<int>(std::lround(model.fontSize())));
    sizeValue->setText(fontSizeText(model.fontSize()));
}

} // namespace halvoren
