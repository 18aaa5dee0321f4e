#include "ui/ProjectRow.h"

#include "platform/DetachedProcess.h"
#include "style/VisibleText.h"
#include "tab/MacTab.h"
#include "ui/AppBus.h"
#include "ui/Icons.h"
#include "style/Palette.h"
#include "ui/PickerRequest.h"
#include "ui/ProjectList.h"
#include "ui/PlainText.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace halvoren {

ProjectRowState projectRowState(const MacModel& model, const MacProject& project, const MacConnection& connection,
                                int depth)
{
    ProjectRowState state;
    state.expanded = connection.expanded().contains(project.path);
    state.open = model.isProjectOpen(project.session, connection);
    state.favorite = depth == 0 && connection.favorites().contains(project.name);
    state.hidden = connection.hidden().contains(project.name);
    const MacTab* active = model.activeTab();
    state.active = active != nullptr && active->connId == connection.id && active->project.session == project.session;
    state.attention = std::any_of(model.tabs().cbegin(), model.tabs().cend(), [&](const MacTab* tab) {
        return tab->connId == connection.id && tab->project.session == project.session && tab->attention();
    });
    const auto git = connection.gitInfo().constFind(project.path);
    if (git != connection.gitInfo().cend())
        state.git = *git;
    return state;
}

StateDot stateDot(const ProjectRowState& state)
{
    if (state.attention)
        return StateDot::attention;
    return state.open ? StateDot::live : StateDot::none;
}

QString folderSymbol(const ProjectRowState& state)
{
    return state.open ? QStringLiteral("folder.fill") : QStringLiteral("folder");
}

QList<RowMenuItem> projectRowMenu(int depth, bool favorite, bool hidden, bool local)
{
    QList<RowMenuItem> items{
        {RowAction::open, QStringLiteral("Ouvrir")},
        {RowAction::openAnotherSession, QStringLiteral("Ouvrir une autre session ici")},
        {RowAction::listSessions, QStringLiteral("Sessions de ce dossier…")},
    };
    if (depth == 0) {
        items.append({RowAction::divider, {}});
        items.append({RowAction::toggleFavorite,
                      favorite ? QStringLiteral("Retirer des favoris") : QStringLiteral("Ajouter aux favoris")});
        items.append({RowAction::toggleHidden, hidden ? QStringLiteral("Afficher") : QStringLiteral("Masquer")});
    }
    if (local) {
        items.append({RowAction::divider, {}});
        items.append({RowAction::reveal, QStringLiteral("Afficher dans le gestionnaire de fichiers")});
    }
    return items;
}

QColor dirtyMarkColor()
{
    return paletteColor(1.0, 0.62, 0.04);
}

void openFolderWithDesktopOpener(const QUrl& folder, std::function<void(bool opened)> done)
{
    const QString opener = desktopOpener();
    if (opener.isEmpty()) {
        done(false);
        return;
    }
    // Its exit is the answer: the desktop's own call would report success as soon as the
    // opener started, even when it then finds nothing able to show a folder.
    startDetachedProcess(opener, {folder.toLocalFile()},
                         [done = std::move(done)](std::optional<int> status) { done(!status || *status == 0); });
}

void revealInFileManager(const QString& path, std::function<void()> failed, const QDBusConnection& bus,
                         FolderOpener openFolder)
{
    if (!openFolder)
        openFolder = openFolderWithDesktopOpener;
    const QString cleaned = QDir::cleanPath(path);
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(cleaned).absolutePath());
    const auto fallBack = [folder, openFolder = std::move(openFolder), failed = std::move(failed)] {
        openFolder(folder, [failed](bool opened) {
            if (!opened && failed)
                failed();
        });
    };
    if (!bus.isConnected()) {
        fallBack();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(cleaned).toString(QUrl::FullyEncoded)} << QString();
    // The bus may have to start the file manager first: answer whenever it replies.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, fallBack] {
        if (watcher->isError())
            fallBack();
        watcher->deleteLater();
    });
}

Task<> postFolderSessions(QPointer<MacModel> model, MacProject project, QPointer<MacConnection> connection)
{
    if (!model || !connection)
        co_return;
    const QString connId = connection->id;
    Task<QList<FolderSession>> listing = model->listFolderSessions(project.path, *connection);
    QList<FolderSession> sessions = co_await std::move(listing);
    if (!model)
        co_return;
    Q_EMIT AppBus::shared().showPicker(QVariant::fromValue(PickerRequest{project, connId, sessions}));
}

namespace {

constexpr int spacing = 6;
constexpr int chevronWidth = 12;
constexpr int trailingMargin = 6;
constexpr int dirtyMarkSize = 5;
constexpr int dirtyMarkGap = 3;

QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

int naturalWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace

QFont projectNameFont(bool active)
{
    return pixelFont(13, active ? QFont::DemiBold : QFont::Normal);
}

QFont projectBranchFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(10);
    return font;
}

ProjectRowLayout layoutProjectRow(double width, int depth, bool favorite, StateDot dot, double nameWidth,
                                  std::optional<double> branchWidth, bool dirty)
{
    ProjectRowLayout layout;
    const double height = rowLineHeight;
    const double middle = height / 2;
    layout.chevron = QRectF(rowLeadingPad(depth), 0, chevronWidth, height);
    double x = layout.chevron.right() + spacing;
    layout.icon = QRectF(x, middle - 6.5, 14, 13);
    x = layout.icon.right() + spacing;
    if (favorite) {
        layout.star = QRectF(x, middle - 5, 10, 10);
        x = layout.star.right() + spacing;
    }

    double right = width - trailingMargin;
    const double dotSize = dot == StateDot::attention ? 7 : dot == StateDot::live ? 6 : 0;
    if (dotSize > 0) {
        layout.dot = QRectF(right - dotSize, middle - dotSize / 2, dotSize, dotSize);
        right = layout.dot.left() - spacing;
    }
    // A sidebar narrower than its fixed items leaves nothing to share.
    right = std::max(right, x);
    layout.shared = QRectF(x, 0, right - x, height);

    const double space = layout.shared.width();
    const double wanted = std::max(nameWidth, 0.0);
    if (!branchWidth) {
        layout.name = QRectF(x, 0, std::min(wanted, space), height);
        return layout;
    }
    const double groupWanted = (dirty ? dirtyMarkSize + dirtyMarkGap : 0) + std::max(*branchWidth, 0.0);
    double name = wanted;
    if (wanted + nameGitGap + groupWanted > space)
        name = std::min(wanted, std::max(space - nameGitGap - groupWanted, std::ceil(space / 2)));
    const double group = std::clamp(space - nameGitGap - name, 0.0, groupWanted);
    layout.name = QRectF(x, 0, name, height);
    if (group <= 0)
        return layout;
    // The flexible space between the two pushes the group to the right.
    layout.git = QRectF(right - group, 0, group, height);
    double branchLeft = layout.git.left();
    if (dirty && group >= dirtyMarkSize) {
        layout.dirty = QRectF(branchLeft, middle - dirtyMarkSize / 2.0, dirtyMarkSize, dirtyMarkSize);
        branchLeft += dirtyMarkSize + dirtyMarkGap;
    }
    if (right > branchLeft)
        layout.branch = QRectF(branchLeft, 0, right - branchLeft, height);
    return layout;
}

ProjectRowLayout layoutProjectRow(double width, int depth, const ProjectRowState& state, const QString& name)
{
    std::optional<double> branch;
    if (state.git)
        branch = naturalWidth(projectBranchFont(), visibleText(state.git->branch));
    return layoutProjectRow(width, depth, state.favorite, stateDot(state),
                            naturalWidth(projectNameFont(state.active), visibleText(name)), branch,
                            state.git && state.git->dirty);
}

namespace {

QColor primaryTextColor()
{
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.88f);
}

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

// The text, cut with "…" where it is wider than its place, at the end of its reading order: a
// right-to-left name keeps its start on the right and shows its "…" on the left, inside its
// place and so clear of the dot.
void drawLineText(QPainter& painter, const QRectF& box, const QFont& font, const QColor& colour, const QString& text)
{
    if (box.isEmpty())
        return;
    painter.setFont(font);
    painter.setPen(colour);
    // Measured as the layout measures, so that a text given its natural width is never cut.
    const QString shown = elidedAtEnd(text, QFontMetrics(font), int(box.width()));
    drawReadingLine(painter, box, Qt::AlignVCenter | Qt::AlignLeft, shown, readingDirection(text));
}

void paintDot(QPainter& painter, QPointF centre, double diameter, const QColor& colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(centre, diameter / 2, diameter / 2);
}

// The painted line of a row; it reads everything through its row at each paint.
class ProjectRowLine : public QWidget {
public:
    explicit ProjectRowLine(ProjectRow& row) : QWidget(&row), row(row)
    {
        setFixedHeight(rowLineHeight);
        setToolTip(plainToolTip(visibleText(row.project.path)));
        setCursor(Qt::PointingHandCursor);
    }

    QRect chevronBox() const { return QRect(rowLeadingPad(row.depth), 0, chevronWidth, height()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const std::optional<ProjectRowState> state = row.state();
        if (!state)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const ProjectRowLayout layout = layoutProjectRow(width(), row.depth, *state, row.project.name);

        painter.save();
        painter.translate(layout.chevron.center());
        if (state->expanded)
            painter.rotate(90);
        paintSymbol(painter, u"chevron.right", QRectF(-4.5, -4.5, 9, 9), mutedTextColor());
        painter.restore();

        const QColor folderColour = state->open ? withOpacity(accentAmberColor(), 0.85) : mutedTextColor();
        paintSymbol(painter, folderSymbol(*state), layout.icon, folderColour);
        if (!layout.star.isEmpty())
            paintSymbol(painter, u"star.fill", layout.star, accentAmberColor());

        drawLineText(painter, layout.name, projectNameFont(state->active),
                     state->active ? accentAmberColor() : primaryTextColor(), visibleText(row.project.name));
        if (!layout.dirty.isEmpty())
            paintDot(painter, layout.dirty.center(), layout.dirty.width(), dirtyMarkColor());
        if (state->git)
            drawLineText(painter, layout.branch, projectBranchFont(), mutedTextColor(),
                         visibleText(state->git->branch));

        if (!layout.dot.isEmpty())
            paintDot(painter, layout.dot.center(), layout.dot.width(),
                     stateDot(*state) == StateDot::attention ? accentAmberColor() : liveGreenColor());
    }

    void mousePressEvent(QMouseEvent* event) override { event->setAccepted(event->button() == Qt::LeftButton); }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
            return;
        if (chevronBox().contains(event->position().toPoint())) {
            if (row.connection)
                row.model.loadSubprojects(row.project.path, *row.connection);
        } else if (row.open) {
            row.open(row.project);
        }
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        // Owned by the window: a rebuild of the sidebar while it is up must not close it.
        QMenu* menu = row.makeMenu(window());
        QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
        menu->popup(event->globalPos());
    }

private:
    ProjectRow& row;
};

} // namespace

ProjectRow::ProjectRow(MacModel& model, MacProject project, MacConnection& connection, int depth,
                       OpenProjectAction open, QWidget* parent)
    : QWidget(parent), model(model), project(std::move(project)), connection(&connection), depth(depth),
      open(std::move(open))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    lineWidget = new ProjectRowLine(*this);
    layout->addWidget(lineWidget);
    if (!connection.expanded().contains(this->project.path))
        return;
    const auto listed = connection.subprojects().constFind(this->project.path);
    // Not listed yet: only the turned chevron tells that the listing is on its way.
    if (listed == connection.subprojects().cend())
        return;
    // Thousands of sub-folders are as many rows as a root of thousands of projects: only
    // those near the view are made.
    if (!listed->isEmpty())
        layout->addWidget(new ProjectList(model, *listed, connection, depth + 1, this->open, this));
    if (listed->isEmpty()) {
        // Deep in the tree its indent leaves it little room: it ends in "…" there, never cut.
        auto* empty = new ElidedLabel(QStringLiteral("Aucun sous-dossier"), this);
        empty->setObjectName(QStringLiteral("emptySubfolders"));
        empty->setFont(pixelFont(11));
        QPalette colours = empty->palette();
        colours.setColor(QPalette::WindowText, mutedTextColor());
        empty->setPalette(colours);
        // Polished first: a label polished while its margins are wider than it is drops them,
        // and a deep row's indent is wider than a label not laid out yet.
        empty->ensurePolished();
        empty->setContentsMargins(emptySubfoldersIndent(depth), 2, 0, 2);
        layout->addWidget(empty);
    }
}

std::optional<ProjectRowState> ProjectRow::state() const
{
    if (!connection)
        return std::nullopt;
    return projectRowState(model, project, *connection, depth);
}

QList<RowMenuItem> ProjectRow::menuItems() const
{
    const std::optional<ProjectRowState> now = state();
    if (!now)
        return {};
    return projectRowMenu(depth, now->favorite, now->hidden, connection->link == nullptr);
}

namespace {

// Runs a menu action on what the row showed. Takes no row: the sidebar may rebuild its rows
// while a menu is up, and the chosen action must still reach the model.
void runRowAction(RowAction action, QPointer<MacModel> model, const MacProject& project,
                  QPointer<MacConnection> connection, const OpenProjectAction& open)
{
    if (!model || !connection)
        return;
    switch (action) {
    case RowAction::divider:
        break;
    case RowAction::open:
        if (open)
            open(project);
        break;
    case RowAction::openAnotherSession:
        model->openAnotherSession(project.name, project.path, *connection);
        break;
    case RowAction::listSessions:
        postFolderSessions(model, project, connection);
        break;
    case RowAction::toggleFavorite:
        model->toggleFavorite(project.name, *connection);
        break;
    case RowAction::toggleHidden:
        model->toggleHidden(project.name, !connection->hidden().contains(project.name), *connection);
        break;
    case RowAction::reveal:
        revealInFileManager(project.path, [model] {
            if (model)
                model->setBanner(noFileManagerMessage);
        });
        break;
    }
}

} // namespace

void ProjectRow::trigger(RowAction action)
{
    runRowAction(action, &model, project, connection, open);
}

QMenu* ProjectRow::makeMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    for (const RowMenuItem& item : menuItems()) {
        if (item.action == RowAction::divider) {
            menu->addSeparator();
            continue;
        }
        menu->addAction(item.title, menu,
                        [action = item.action, model = QPointer<MacModel>(&model), project = project,
                         connection = connection, open = open] { runRowAction(action, model, project, connection, open); });
    }
    return menu;
}

} // namespace halvoren
