#include "ui/SidebarView.h"

#include "tab/MacTab.h"
#include "ui/AppBus.h"
#include "ui/Icons.h"
#include "ui/ProjectList.h"
#include "ui/PlainText.h"
#include "style/Palette.h"
#include "style/VisibleText.h"
#include "ui/SessionPicker.h"

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace halvoren {

namespace {

const QString refreshTitle = QStringLiteral("Rafraîchir les projets");
const QString installKeyTitle = QStringLiteral("Installer ma clé SSH sur ce serveur");
const QString disconnectTitle = QStringLiteral("Déconnecter");
// The most lines of a section's empty text: room enough for a long root, not a column of it.
constexpr int emptyProjectsLines = 4;

QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, colour);
    colours.setColor(QPalette::ButtonText, colour);
    colours.setColor(QPalette::Text, colour);
    widget->setPalette(colours);
}

// A symbol of the icon set drawn in a fixed box, optionally turned a quarter (an open chevron).
class SymbolView : public QWidget {
public:
    SymbolView(QString name, QColor colour, QSize size, QWidget* parent, bool turned = false)
        : QWidget(parent), name(std::move(name)), colour(std::move(colour)), turned(turned)
    {
        setFixedSize(size);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(QRectF(rect()).center());
        if (turned)
            painter.rotate(90);
        const QSizeF box = size();
        paintSymbol(painter, name, QRectF(-box.width() / 2, -box.height() / 2, box.width(), box.height()), colour);
    }

private:
    QString name;
    QColor colour;
    bool turned;
};

class ColourDot : public QWidget {
public:
    ColourDot(QColor colour, int diameter, QWidget* parent) : QWidget(parent), colour(std::move(colour))
    {
        setFixedSize(diameter, diameter);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    const QColor colour;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(rect()));
    }
};

// A small turning arc: a server connection is being made. It turns only while shown.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent)
    {
        setFixedSize(12, 12);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        turning.setInterval(80);
        QObject::connect(&turning, &QTimer::timeout, this, [this] {
            angle = (angle + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { turning.start(); }
    void hideEvent(QHideEvent*) override { turning.stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(mutedTextColor(), 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), -angle * 16, 270 * 16);
    }

private:
    QTimer turning;
    int angle = 0;
};

// A section header: a click folds or unfolds the section, the context menu offers the
// connection's actions.
class SectionHeader : public QWidget {
public:
    SectionHeader(SidebarView& sidebar, MacConnection& connection, QWidget* parent)
        : QWidget(parent), sidebar(sidebar), connection(&connection)
    {
        setObjectName(QStringLiteral("connectionHeader"));
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { event->setAccepted(event->button() == Qt::LeftButton); }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && connection)
            connection->setSectionExpanded(!connection->sectionExpanded());
    }
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (!connection)
            return;
        // Owned by the window: a rebuild of the sidebar while it is up must not close it.
        auto* menu = new QMenu(window());
        QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
        const QPointer<SidebarView> view(&sidebar);
        const QPointer<MacConnection> target = connection;
        for (const QString& title : connectionMenuTitles(*connection)) {
            if (title.isEmpty()) {
                menu->addSeparator();
                continue;
            }
            menu->addAction(title, menu, [view, target, title] {
                if (!view || !target)
                    return;
                if (title == refreshTitle)
                    view->refresh(*target);
                else if (title == installKeyTitle)
                    view->installKey(*target);
                else if (title == disconnectTitle)
                    view->disconnectServer(*target);
            });
        }
        menu->popup(event->globalPos());
    }

private:
    SidebarView& sidebar;
    QPointer<MacConnection> connection;
};

Task<> installKeyOn(QPointer<MacModel> model, std::shared_ptr<SSHLink> link)
{
    Task<ShellResult<int>> installing = link->installKey();
    const ShellResult<int> result = co_await std::move(installing);
    if (model)
        model->setBanner(installKeyBanner(result));
}

Task<> connectServer(QPointer<MacModel> model, MacProfile profile)
{
    Task<bool> connecting = model->connect(profile);
    const bool connected = co_await std::move(connecting);
    // The main window answers with the interactive connection (a password, a new host key).
    if (!connected && model && model->hasProfile(profile.id))
        Q_EMIT AppBus::shared().connectProfile(profile.id);
}

Task<> openOrPick(QPointer<MacModel> model, QPointer<SidebarView> view, MacProject project,
                  QPointer<MacConnection> connection)
{
    const QString connId = connection->id;
    Task<std::optional<QList<FolderSession>>> opening = model->openProjectOrListSessions(project, *connection);
    std::optional<QList<FolderSession>> sessions = co_await std::move(opening);
    if (sessions && model && view)
        view->setPicker(PickerRequest{project, connId, *sessions});
}

} // namespace

QString connectionName(const MacConnection& connection)
{
    return connection.profile ? connection.profile->name : QStringLiteral("Cet ordinateur");
}

QString emptyProjectsText(const MacConnection& connection)
{
    if (!connection.link)
        return QStringLiteral("Aucun projet : ajoute un dossier dans les réglages.");
    return QStringLiteral("Aucun projet dans ") + (connection.profile ? connection.profile->projectsRoot : QString());
}

QString hiddenGroupTitle(qsizetype count)
{
    return QStringLiteral("Cachés (") + QString::number(count) + u')';
}

QStringList connectionMenuTitles(const MacConnection& connection)
{
    QStringList titles{refreshTitle};
    if (connection.link)
        titles << installKeyTitle << QString() << disconnectTitle;
    return titles;
}

QList<MacProfile> unconnectedProfiles(const MacModel& model)
{
    QList<MacProfile> profiles;
    for (const MacProfile& profile : model.profiles()) {
        if (model.connection(profile.id) == nullptr)
            profiles.append(profile);
    }
    return profiles;
}

QString installKeyBanner(const ShellResult<int>& result)
{
    // ssh's own diagnostic is the host's text, of any length and holding anything: quoted as
    // every banner quotes a host's message.
    if (!result)
        return bannerQuote(result.error().message, bannerReasonColumns);
    return QString::number(result.value())
        + QStringLiteral(" clé(s) installée(s) : plus de mot de passe à la prochaine connexion.");
}

SidebarView::SidebarView(MacModel& model, QWidget* parent) : QWidget(parent), model(model)
{
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, tabBarBackground());
    colours.setColor(QPalette::Base, tabBarBackground());
    colours.setColor(QPalette::WindowText, QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.88f));
    colours.setColor(QPalette::ButtonText, QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.88f));
    setPalette(colours);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scroller = new QScrollArea(this);
    scroller->setObjectName(QStringLiteral("sidebarScroller"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content = new QWidget;
    sections = new QVBoxLayout(content);
    sections->setContentsMargins(8, 6, 6, 6);
    sections->setSpacing(2);
    scroller->setWidget(content);
    layout->addWidget(scroller);

    connect(&model, &MacModel::connectionsChanged, this, [this] {
        followModel();
        scheduleRebuild();
    });
    // Tabs change only what the rows draw.
    connect(&model, &MacModel::tabsChanged, this, [this] {
        followModel();
        repaintRows();
    });
    connect(&model, &MacModel::profilesChanged, this, &SidebarView::scheduleRebuild);
    connect(&model, &MacModel::activeTabIDChanged, this, &SidebarView::repaintRows);
    connect(&model, &MacModel::reconnectingChanged, this, &SidebarView::scheduleRebuild);
    connect(&AppBus::shared(), &AppBus::showPicker, this, [this](const QVariant& object) {
        if (object.metaType() == QMetaType::fromType<PickerRequest>())
            setPicker(object.value<PickerRequest>());
    });
    followModel();
    rebuild();
}

void SidebarView::setPicker(std::optional<PickerRequest> request)
{
    if (sheet) {
        SessionPicker* closing = sheet;
        sheet = nullptr;
        disconnect(closing, nullptr, this, nullptr);
        closing->hide();
        closing->deleteLater();
    }
    ++pickerGeneration;
    pickerValue = std::move(request);
    if (pickerValue) {
        const QPointer<SidebarView> self(this);
        const quint64 generation = pickerGeneration;
        auto* shown = new SessionPicker(model, *pickerValue, [self, generation] {
            if (self && self->pickerGeneration == generation)
                self->setPicker(std::nullopt);
        }, this);
        shown->setWindowModality(Qt::WindowModal);
        // Closed by the user without the picker's own buttons.
        connect(shown, &QDialog::finished, this, [this, generation] {
            if (pickerGeneration == generation)
                setPicker(std::nullopt);
        });
        sheet = shown;
        shown->open();
    }
    Q_EMIT pickerChanged();
}

void SidebarView::refresh(MacConnection& connection)
{
    model.refreshProjects(connection);
}

void SidebarView::installKey(MacConnection& connection)
{
    if (connection.link)
        installKeyOn(&model, connection.link);
}

void SidebarView::disconnectServer(MacConnection& connection)
{
    model.disconnect(connection);
}

void SidebarView::connectProfile(const MacProfile& profile)
{
    connectServer(&model, profile);
}

void SidebarView::openProject(const MacProject& project, MacConnection& connection)
{
    openOrPick(&model, this, project, &connection);
}

void SidebarView::scheduleRebuild()
{
    if (rebuildPending)
        return;
    rebuildPending = true;
    QMetaObject::invokeMethod(this, [this] {
        if (rebuildPending)
            rebuild();
    }, Qt::QueuedConnection);
}

void SidebarView::followModel()
{
    for (const QMetaObject::Connection& link : std::as_const(followed))
        disconnect(link);
    followed.clear();
    const auto follow = [this](auto* sender, auto signal, void (SidebarView::*answer)()) {
        followed.append(connect(sender, signal, this, answer));
    };
    for (MacConnection* connection : model.connections()) {
        follow(connection, &MacConnection::sectionExpandedChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::hiddenExpandedChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::projectsChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::favoritesChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::hiddenChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::liveSessionsChanged, &SidebarView::repaintRows);
        follow(connection, &MacConnection::gitInfoChanged, &SidebarView::repaintRows);
        follow(connection, &MacConnection::expandedChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::subprojectsChanged, &SidebarView::scheduleRebuild);
        follow(connection, &MacConnection::unreachableChanged, &SidebarView::scheduleRebuild);
    }
    for (MacTab* tab : model.tabs())
        follow(tab, &MacTab::attentionChanged, &SidebarView::repaintRows);
}

void SidebarView::repaintRows()
{
    content->update();
}

void SidebarView::rebuild()
{
    rebuildPending = false;
    QScrollBar* bar = scroller->verticalScrollBar();
    const int position = bar->value();
    while (QLayoutItem* item = sections->takeAt(0)) {
        if (QWidget* old = item->widget()) {
            // A row may be the sender of the change that brought us here: it goes later.
            old->hide();
            old->deleteLater();
        }
        delete item;
    }
    for (MacConnection* connection : model.connections())
        sections->addWidget(connectionSection(*connection));
    const QList<MacProfile> servers = unconnectedProfiles(model);
    if (!servers.isEmpty())
        sections->addWidget(serversSection(servers));
    sections->addStretch(1);
    // Lay the new rows out now, shown (a layout would only show them on the next turn), so
    // the scroll range is known before the position goes back.
    for (int index = 0; index < sections->count(); ++index) {
        if (QWidget* added = sections->itemAt(index)->widget())
            added->show();
    }
    sections->activate();
    bar->setValue(position);
}

QWidget* SidebarView::connectionSection(MacConnection& connection)
{
    auto* section = new QWidget(content);
    section->setObjectName(QStringLiteral("connectionSection"));
    section->setProperty("connectionId", connection.id);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(0);

    auto* header = new SectionHeader(*this, connection, section);
    header->setFixedHeight(26);
    auto* line = new QHBoxLayout(header);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    line->addWidget(
        new SymbolView(QStringLiteral("chevron.right"), mutedTextColor(), QSize(8, 8), header, connection.sectionExpanded()));
    auto* dot = new ColourDot(model.connectionColor(connection.id), 7, header);
    dot->setObjectName(QStringLiteral("connectionDot"));
    line->addWidget(dot);
    auto* name = new ElidedLabel(connectionName(connection), header);
    name->setObjectName(QStringLiteral("connectionName"));
    name->setFont(pixelFont(12, QFont::DemiBold));
    line->addWidget(name);
    if (connection.unreachable()) {
        auto* mark = new SymbolView(QStringLiteral("wifi.exclamationmark"), alertRedColor(), QSize(14, 12), header);
        mark->setObjectName(QStringLiteral("unreachableMark"));
        line->addWidget(mark);
    }
    line->addStretch(1);
    auto* count = plainLabel(QString::number(connection.projects().size()), header);
    count->setObjectName(QStringLiteral("projectCount"));
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPixelSize(11);
    count->setFont(digits);
    setTextColour(count, mutedTextColor());
    line->addWidget(count);
    auto* refreshButton = new QToolButton(header);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    refreshButton->setAutoRaise(true);
    refreshButton->setIcon(symbolIcon(u"arrow.clockwise", mutedTextColor(), 14));
    refreshButton->setToolTip(refreshTitle);
    refreshButton->setFixedSize(20, 20);
    const QPointer<MacConnection> target(&connection);
    connect(refreshButton, &QToolButton::clicked, this, [this, target] {
        if (target)
            refresh(*target);
    });
    line->addWidget(refreshButton);
    layout->addWidget(header);

    if (!connection.sectionExpanded())
        return section;
    addRows(layout, connection.visibleProjects(), connection);
    const QList<MacProject> hiddenProjects = connection.hiddenProjects();
    if (!hiddenProjects.isEmpty()) {
        auto* group = new QToolButton(section);
        group->setObjectName(QStringLiteral("hiddenGroup"));
        group->setText(hiddenGroupTitle(hiddenProjects.size()));
        group->setIcon(symbolIcon(u"eye.slash", mutedTextColor(), 14));
        group->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        group->setAutoRaise(true);
        group->setCheckable(true);
        group->setChecked(connection.hiddenExpanded());
        group->setFont(pixelFont(12));
        setTextColour(group, mutedTextColor());
        connect(group, &QToolButton::clicked, this, [target] {
            if (target)
                target->setHiddenExpanded(!target->hiddenExpanded());
        });
        layout->addWidget(group, 0, Qt::AlignLeft);
        if (connection.hiddenExpanded())
            addRows(layout, hiddenProjects, connection);
    }
    if (connection.projects().isEmpty()) {
        // The server's projects root is the user's text, a long word or a whole path: it wraps
        // inside a word too, so it never widens the column, and a root too long for a few lines
        // reads whole in the tooltip.
        const QString said = emptyProjectsText(connection);
        auto* empty = new WrappedLabel(said, section);
        empty->setObjectName(QStringLiteral("emptyProjects"));
        empty->setMaximumLines(emptyProjectsLines);
        if (connection.link)
            empty->setToolTip(plainToolTip(visibleText(said)));
        empty->setFont(pixelFont(11));
        empty->setContentsMargins(0, 2, 0, 2);
        setTextColour(empty, mutedTextColor());
        layout->addWidget(empty);
    }
    return section;
}

void SidebarView::addRows(QVBoxLayout* layout, const QList<MacProject>& projects, MacConnection& connection)
{
    const QPointer<SidebarView> self(this);
    const QPointer<MacConnection> target(&connection);
    const OpenProjectAction open = [self, target](const MacProject& project) {
        if (self && target)
            self->openProject(project, *target);
    };
    layout->addWidget(new ProjectList(model, projects, connection, 0, open, layout->parentWidget()));
}

QWidget* SidebarView::serversSection(const QList<MacProfile>& profiles)
{
    auto* section = new QWidget(content);
    section->setObjectName(QStringLiteral("serversSection"));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* title = plainLabel(QStringLiteral("Serveurs"), section);
    title->setObjectName(QStringLiteral("serversHeader"));
    title->setFont(pixelFont(12, QFont::DemiBold));
    title->setFixedHeight(26);
    layout->addWidget(title);
    for (const MacProfile& profile : profiles) {
        auto* row = new QPushButton(section);
        row->setObjectName(QStringLiteral("serverRow"));
        row->setProperty("profileId", profile.id);
        row->setFlat(true);
        row->setFixedHeight(24);
        row->setCursor(Qt::PointingHandCursor);
        setTextColour(row, mutedTextColor());
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(2, 0, 6, 0);
        line->setSpacing(6);
        line->addWidget(new SymbolView(QStringLiteral("server.rack"), mutedTextColor(), QSize(14, 12), row));
        auto* name = new ElidedLabel(profile.name, row);
        name->setObjectName(QStringLiteral("serverName"));
        // A click on the name is a click on the row: it connects.
        name->setAttribute(Qt::WA_TransparentForMouseEvents);
        name->setFont(pixelFont(13));
        setTextColour(name, mutedTextColor());
        line->addWidget(name);
        line->addStretch(1);
        if (model.reconnecting().contains(profile.id)) {
            auto* spinner = new Spinner(row);
            spinner->setObjectName(QStringLiteral("connectingSpinner"));
            line->addWidget(spinner);
        }
        connect(row, &QPushButton::clicked, this, [this, profile] { connectProfile(profile); });
        layout->addWidget(row);
    }
    return section;
}

} // namespace halvoren
