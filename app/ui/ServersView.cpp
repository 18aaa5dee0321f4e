#include "ui/ServersView.h"

#include "ui/ConnectSheet.h"
#include "ui/Icons.h"
#include "ui/PlainText.h"
#include "style/Palette.h"
#include "ui/ProfileEditor.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace halvoren {

QString serverDetailLine(const MacProfile& profile)
{
    QString line;
    if (!profile.username.isEmpty())
        line += profile.username + u'@';
    line += profile.host;
    if (profile.port != 22)
        line += u':' + QString::number(profile.port);
    return line + QStringLiteral(" · ") + profile.projectsRoot;
}

ServerStatus serverStatus(const MacModel& model, const QString& profileID)
{
    if (model.connection(profileID) != nullptr)
        return ServerStatus::connected;
    if (model.reconnecting().contains(profileID))
        return ServerStatus::connecting;
    return ServerStatus::idle;
}

QStringList serverMenuTitles(bool connected)
{
    QStringList titles{QStringLiteral("Modifier…")};
    if (connected)
        titles << QStringLiteral("Déconnecter");
    titles << QString() << QStringLiteral("Supprimer");
    return titles;
}

namespace {

void colourText(QLabel* label, const QColor& colour, const QFont& font)
{
    label->setFont(font);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
}

QLabel* textLabel(const QString& text, const QColor& colour, const QFont& font, QWidget* parent)
{
    QLabel* label = plainLabel(text, parent);
    colourText(label, colour, font);
    return label;
}

// Sizes are given in points of the look, drawn one point to one pixel.
QFont sized(int points, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(points);
    font.setWeight(weight);
    return font;
}

QFont monospaced(int points)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(points);
    font.setWeight(QFont::Normal);
    return font;
}

// A dot in the "Connecté" colour, standing for a filled circle symbol.
QPixmap dot(const QColor& colour, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    return pixmap;
}

// The small busy indicator of a server being connected: an arc that turns while shown.
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent)
    {
        setFixedSize(16, 16);
        timer.setInterval(80);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            angle = (angle + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { timer.start(); }
    void hideEvent(QHideEvent*) override { timer.stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(Palette::secondaryText(), 2.0);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(QRectF(rect()).adjusted(2, 2, -2, -2), -angle * 16, 270 * 16);
    }

private:
    QTimer timer;
    int angle = 0;
};

// One saved server; its menu comes from the sheet.
class ServerRow final : public QWidget {
public:
    ServerRow(ServersView& sheet, MacProfile profile, QWidget* parent)
        : QWidget(parent), sheet(sheet), profile(std::move(profile))
    {
    }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu* menu = sheet.rowMenu(profile, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }

private:
    ServersView& sheet;
    MacProfile profile;
};

// Buttons of a dialog press themselves on Return; here Return belongs to the quick-connect field.
QPushButton* plainButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

ServersView::ServersView(MacModel& model, std::optional<QString> autoConnect, QWidget* parent)
    : QDialog(parent), model(model), autoConnect(std::move(autoConnect))
{
    // The sheet reads and stores passwords where the model keeps them.
    makeConnectSheet = [&model](const MacProfile& profile, ConnectDone done, QWidget* parent) -> QDialog* {
        auto* sheet = new ConnectSheet(profile, std::move(done), parent);
        sheet->keychain = &model.secrets();
        return sheet;
    };
    setWindowTitle(QStringLiteral("Serveurs"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(560, 420);

    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(14);
    stack->setContentsMargins(20, 20, 20, 20);

    auto* header = new QHBoxLayout;
    header->addWidget(
        textLabel(QStringLiteral("Serveurs"), palette().color(QPalette::WindowText), sized(17, QFont::DemiBold), this));
    header->addStretch();
    addButton = plainButton(QStringLiteral("Ajouter"), this);
    addButton->setIcon(symbolIcon(u"plus", palette().color(QPalette::ButtonText)));
    header->addWidget(addButton);
    stack->addLayout(header);

    hint = textLabel(QStringLiteral("Aucun serveur. Ajoute-en un, ou colle une commande ssh ci-dessous."),
                     Palette::secondaryText(), sized(13), this);
    hint->setWordWrap(true);
    stack->addWidget(hint);

    list = new QScrollArea(this);
    list->setMinimumHeight(160);
    list->setWidgetResizable(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rows = new QWidget(list);
    rowsLayout = new QVBoxLayout(rows);
    rowsLayout->setContentsMargins(10, 6, 10, 6);
    rowsLayout->setSpacing(0);
    rowsLayout->addStretch();
    list->setWidget(rows);
    stack->addWidget(list, 1);

    auto* quickRow = new QHBoxLayout;
    quickField = new QLineEdit(this);
    quickField->setPlaceholderText(QStringLiteral("Connexion rapide : ssh -p 22 utilisateur@machine"));
    quickField->setFont(monospaced(12));
    quickRow->addWidget(quickField, 1);
    quickButton = plainButton(QStringLiteral("Connecter"), this);
    quickButton->setEnabled(false);
    quickRow->addWidget(quickButton);
    stack->addLayout(quickRow);

    errorLabel = textLabel(QString(), Palette::alert(), sized(12), this);
    errorLabel->setWordWrap(true);
    errorLabel->hide();
    stack->addWidget(errorLabel);

    auto* footer = new QHBoxLayout;
    footer->addStretch();
    closeButton = plainButton(QStringLiteral("Fermer"), this);
    footer->addWidget(closeButton);
    stack->addLayout(footer);

    QObject::connect(addButton, &QPushButton::clicked, this, &ServersView::addServer);
    // Only the exactly empty text disables it: blanks still get the "not recognised" answer.
    QObject::connect(quickField, &QLineEdit::textChanged, this,
                     [this](const QString& text) { quickButton->setEnabled(!text.isEmpty()); });
    QObject::connect(quickField, &QLineEdit::returnPressed, this, &ServersView::quickConnect);
    QObject::connect(quickButton, &QPushButton::clicked, this, &ServersView::quickConnect);
    QObject::connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    QObject::connect(&model, &MacModel::profilesChanged, this, &ServersView::rebuildRows);
    QObject::connect(&model, &MacModel::connectionsChanged, this, &ServersView::rebuildRows);
    QObject::connect(&model, &MacModel::reconnectingChanged, this, &ServersView::rebuildRows);
    rebuildRows();
}

void ServersView::rebuildRows()
{
    hint->setVisible(model.profiles().isEmpty());
    // The list stays where it is while its rows change. A focused control about to go (the
    // pressed "Connecter" turning into a spinner) would hand the keyboard down the chain of
    // the old rows, each scrolled into view in turn: the list keeps it instead, and the same
    // row's control gets it back when there is one.
    const int scrolled = list->verticalScrollBar()->value();
    QWidget* focused = QApplication::focusWidget();
    std::optional<QString> focusedRow;
    if (focused != nullptr && rows->isAncestorOf(focused)) {
        for (QWidget* up = focused; up != rows; up = up->parentWidget()) {
            if (up->property("profileId").isValid())
                focusedRow = up->property("profileId").toString();
        }
        list->setFocus(Qt::OtherFocusReason);
    }
    // A row may be rebuilt from inside its own button's click: delete the old ones later.
    while (rowsLayout->count() > 1) {
        QLayoutItem* item = rowsLayout->takeAt(0);
        if (QWidget* old = item->widget()) {
            old->hide();
            old->deleteLater();
        }
        delete item;
    }
    qsizetype position = 0;
    for (const MacProfile& profile : model.profiles()) {
        QWidget* row = makeRow(profile);
        rowsLayout->insertWidget(int(position++), row);
        if (focusedRow == profile.id) {
            if (auto* button = row->findChild<QPushButton*>(QStringLiteral("connect")))
                button->setFocus(Qt::OtherFocusReason);
        }
    }
    list->verticalScrollBar()->setValue(scrolled);
}

QWidget* ServersView::makeRow(const MacProfile& profile)
{
    auto* row = new ServerRow(*this, profile, rows);
    row->setObjectName(QStringLiteral("serverRow"));
    row->setProperty("profileId", profile.id);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 4, 0, 4);
    line->setSpacing(12);

    auto* icon = new QLabel(row);
    icon->setFixedWidth(22);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(symbolIcon(u"server.rack", Palette::accent(), 18).pixmap(18, 18));
    line->addWidget(icon);

    // The texts give way to the status: a long name or host is cut, never the button or the mark.
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* name = new ElidedLabel(profile.name, row);
    name->setObjectName(QStringLiteral("name"));
    colourText(name, palette().color(QPalette::WindowText), sized(13, QFont::DemiBold));
    texts->addWidget(name);
    auto* detail = new ElidedLabel(serverDetailLine(profile), row);
    detail->setObjectName(QStringLiteral("detail"));
    colourText(detail, Palette::secondaryText(), monospaced(11));
    texts->addWidget(detail);
    line->addLayout(texts);
    line->addStretch();

    switch (serverStatus(model, profile.id)) {
    case ServerStatus::connected: {
        auto* mark = new QWidget(row);
        mark->setObjectName(QStringLiteral("connected"));
        auto* parts = new QHBoxLayout(mark);
        parts->setContentsMargins(0, 0, 0, 0);
        parts->setSpacing(4);
        auto* symbol = new QLabel(mark);
        symbol->setPixmap(dot(Palette::ok(), 8));
        parts->addWidget(symbol);
        parts->addWidget(textLabel(QStringLiteral("Connecté"), Palette::ok(), sized(10), mark));
        line->addWidget(mark);
        break;
    }
    case ServerStatus::connecting: {
        auto* spinner = new Spinner(row);
        spinner->setObjectName(QStringLiteral("connecting"));
        line->addWidget(spinner);
        break;
    }
    case ServerStatus::idle: {
        QPushButton* connect = plainButton(QStringLiteral("Connecter"), row);
        connect->setObjectName(QStringLiteral("connect"));
        QObject::connect(connect, &QPushButton::clicked, this, [this, profile] {
            setError(std::nullopt);
            connectFlow(profile);
        });
        line->addWidget(connect);
        break;
    }
    }
    return row;
}

QMenu* ServersView::rowMenu(const MacProfile& profile, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const QString id = profile.id;
    for (const QString& title : serverMenuTitles(model.connection(id) != nullptr)) {
        if (title.isEmpty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(title);
        if (title == u"Modifier…") {
            QObject::connect(action, &QAction::triggered, this, [this, profile] { edit(profile); });
        } else if (title == u"Déconnecter") {
            QObject::connect(action, &QAction::triggered, this, [this, id] {
                if (MacConnection* existing = model.connection(id))
                    model.disconnect(*existing);
            });
        } else {
            QObject::connect(action, &QAction::triggered, this, [this, profile] { model.removeProfile(profile); });
        }
    }
    return menu;
}

void ServersView::setError(const std::optional<QString>& message)
{
    errorLabel->setText(message.value_or(QString()));
    errorLabel->setVisible(message.has_value());
}

void ServersView::quickConnect()
{
    const std::optional<MacProfile> parsed = parseSSHCommand(quickField->text());
    if (!parsed) {
        setError(unrecognisedMessage);
        return;
    }
    // Saved before any attempt, and kept whatever the attempt gives.
    model.saveProfile(*parsed);
    quickField->clear();
    setError(std::nullopt);
    connectFlow(*parsed);
}

Task<> ServersView::connectFlow(MacProfile profile)
{
    QPointer<ServersView> self(this);
    Task<bool> connecting = model.connect(profile);
    const bool connected = co_await std::move(connecting);
    if (!self)
        co_return;
    if (connected)
        accept();
    else if (model.hasProfile(profile.id)) // a server deleted meanwhile asks nothing
        openConnectSheet(profile);
}

void ServersView::openConnectSheet(const MacProfile& profile)
{
    // A newer failure takes the place of an open sheet, as one sheet covers this one at a time.
    if (QPointer<QDialog> previous = std::exchange(connecting, nullptr))
        previous->close();
    const quint64 ticket = ++sheetTicket;
    QPointer<ServersView> self(this);
    QDialog* sheet = makeConnectSheet(
        profile,
        [self, ticket](std::shared_ptr<SSHLink> link) {
            if (self && self->sheetTicket == ticket)
                self->connectDone(std::move(link));
        },
        this);
    if (sheet == nullptr)
        return;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connecting = sheet;
    sheet->open();
}

void ServersView::connectDone(std::shared_ptr<SSHLink> link)
{
    ++sheetTicket;
    if (QPointer<QDialog> sheet = std::exchange(connecting, nullptr))
        sheet->close();
    if (link)
        attachAndClose(std::move(link));
}

Task<> ServersView::attachAndClose(std::shared_ptr<SSHLink> link)
{
    QPointer<ServersView> self(this);
    Task<> attaching = model.attachConnection(std::move(link));
    co_await std::move(attaching);
    if (self)
        accept();
}

void ServersView::edit(const MacProfile& profile)
{
    if (editing)
        editing->close();
    auto* editor = new ProfileEditor(model, profile, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editing = editor;
    editor->open();
}

void ServersView::addServer()
{
    MacProfile fresh;
    fresh.id = MacProfile::newID();
    edit(fresh);
}

void ServersView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (autoConnectSeen)
        return;
    autoConnectSeen = true;
    // After the show has finished, so that a connection that is already there may close the sheet.
    QMetaObject::invokeMethod(this, &ServersView::runAutoConnect, Qt::QueuedConnection);
}

void ServersView::runAutoConnect()
{
    if (!autoConnect)
        return;
    for (const MacProfile& profile : model.profiles()) {
        if (profile.id == *autoConnect) {
            setError(std::nullopt);
            connectFlow(profile);
            return;
        }
    }
}

} // namespace halvoren
