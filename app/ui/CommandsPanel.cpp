#include "ui/CommandsPanel.h"

#include "tab/MacTab.h"
#include "tab/TermView.h"
#include "ui/Icons.h"
#include "ui/PlainText.h"
#include "style/VisibleText.h"
#include "style/Palette.h"

#include <QAbstractItemModel>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <span>

namespace halvoren {

namespace {

constexpr int commandRole = Qt::UserRole;
// Whether a click runs the row: only with an active tab. The row still moves without one.
constexpr int runnableRole = Qt::UserRole + 1;
constexpr int padX = 8;
constexpr int padY = 5;
constexpr int lineSpacing = 2;

QFont commandFont(const QFont& base)
{
    QFont font(base);
    font.setFamily(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(10);
    font.setWeight(QFont::Normal);
    return font;
}

// One line of a row, cut with "…" where it reads last: a Hebrew or Arabic text is drawn right
// to left, so its cut shows on its left.
void drawRowLine(QPainter& painter, const QRect& box, const QFontMetrics& metrics, const QString& text)
{
    drawReadingLine(painter, box, Qt::AlignLeft | Qt::AlignVCenter, elidedAtEnd(text, metrics, box.width()),
                    readingDirection(text));
}

// A row: the label, and under it the command in small grey monospace when it says more.
class CommandRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString label = index.data(Qt::DisplayRole).toString();
        const QString command = index.data(commandRole).toString();
        const bool enabled = option.state.testFlag(QStyle::State_Enabled) && index.data(runnableRole).toBool();
        painter->save();
        if (enabled && option.state.testFlag(QStyle::State_MouseOver)) {
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(255, 255, 255, 18));
            painter->drawRoundedRect(QRectF(option.rect).adjusted(2, 1, -2, -1), 5, 5);
        }
        const QRect box = option.rect.adjusted(padX, padY, -padX, -padY);
        const QFontMetrics labelMetrics(option.font);
        painter->setFont(option.font);
        painter->setPen(enabled ? option.palette.color(QPalette::Text) : Palette::secondaryText());
        const QRect labelBox(box.left(), box.top(), box.width(), labelMetrics.height());
        drawRowLine(*painter, labelBox, labelMetrics, visibleText(label));
        if (command != label) {
            const QFont font = commandFont(option.font);
            const QFontMetrics metrics(font);
            painter->setFont(font);
            painter->setPen(Palette::secondaryText());
            const QRect commandBox(box.left(), labelBox.bottom() + 1 + lineSpacing, box.width(), metrics.height());
            drawRowLine(*painter, commandBox, metrics, visibleText(command));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        int height = QFontMetrics(option.font).height();
        if (index.data(commandRole).toString() != index.data(Qt::DisplayRole).toString())
            height += lineSpacing + QFontMetrics(commandFont(option.font)).height();
        return {option.rect.width(), height + 2 * padY};
    }
};

} // namespace

QList<SavedCommand> movedCommands(const QList<SavedCommand>& list, QList<qsizetype> sources, qsizetype destination)
{
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    sources.removeIf([&list](qsizetype s) { return s < 0 || s >= list.size(); });
    destination = std::clamp<qsizetype>(destination, 0, list.size());
    QList<SavedCommand> moved;
    QList<SavedCommand> rest;
    qsizetype before = 0;
    for (qsizetype index = 0; index < list.size(); ++index) {
        if (std::binary_search(sources.begin(), sources.end(), index)) {
            moved << list.at(index);
            if (index < destination)
                ++before;
        } else {
            rest << list.at(index);
        }
    }
    const qsizetype at = destination - before;
    for (qsizetype k = 0; k < moved.size(); ++k)
        rest.insert(at + k, moved.at(k));
    return rest;
}

QList<SavedCommand> savedCommands(const QList<SavedCommand>& list, std::optional<qsizetype> editing,
                                  const QString& label, const QString& command)
{
    const SavedCommand entry{label.isEmpty() ? command : label, command};
    QList<SavedCommand> result = list;
    if (editing && *editing >= 0 && *editing < result.size())
        result[*editing] = entry;
    else if (!command.isEmpty())
        result.append(entry);
    return result;
}

CommandsPanel::CommandsPanel(MacModel& model, QWidget* parent) : QWidget(parent), model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 10, 8, 8);
    layout->setSpacing(4);

    QLabel* header = plainLabel(QStringLiteral("Commandes rapides"), this);
    // One size down in the font's own unit: a pixel-sized font has no point size to lower.
    QFont headerFont = header->font();
    if (headerFont.pixelSize() > 0)
        headerFont.setPixelSize(headerFont.pixelSize() - 1);
    else
        headerFont.setPointSizeF(headerFont.pointSizeF() - 1);
    headerFont.setWeight(QFont::DemiBold);
    header->setFont(headerFont);
    QPalette headerPalette = header->palette();
    headerPalette.setColor(QPalette::WindowText, Palette::secondaryText());
    header->setPalette(headerPalette);
    header->setContentsMargins(padX, 0, 0, 2);
    layout->addWidget(header);

    rows = new QListWidget(this);
    rows->setObjectName(QStringLiteral("commands"));
    rows->setFrameShape(QFrame::NoFrame);
    rows->setItemDelegate(new CommandRowDelegate(rows));
    rows->setMouseTracking(true);
    rows->setSelectionMode(QAbstractItemView::SingleSelection);
    rows->setDragDropMode(QAbstractItemView::InternalMove);
    rows->setDefaultDropAction(Qt::MoveAction);
    rows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rows->setContextMenuPolicy(Qt::CustomContextMenu);
    rows->viewport()->setAutoFillBackground(false);
    rows->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
    // As tall as its rows, so that the add row follows the last one; scrolls when the panel
    // is shorter.
    rows->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    rows->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addWidget(rows);

    addRow = new QPushButton(symbolIcon(u"plus", Palette::accent()), QStringLiteral("Ajouter une commande"), this);
    addRow->setFlat(true);
    addRow->setCursor(Qt::PointingHandCursor);
    addRow->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 4px 8px; border: none; color: %1; }")
                              .arg(Palette::accent().name()));
    layout->addWidget(addRow);
    layout->addStretch(1);

    connect(rows, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (item->data(runnableRole).toBool())
            run(SavedCommand{item->data(Qt::DisplayRole).toString(), item->data(commandRole).toString()});
    });
    connect(rows, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = rows->indexAt(at);
        if (!index.isValid())
            return;
        QMenu* menu = rowMenu(index.row());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(rows->viewport()->mapToGlobal(at));
    });
    // The list has already moved its row when this arrives, in the middle of the drop; the
    // model follows on the next turn, and the list is then rebuilt from it.
    connect(rows->model(), &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int first, int last, const QModelIndex&, int destination) {
                QList<qsizetype> sources;
                for (int row = first; row <= last; ++row)
                    sources << row;
                QTimer::singleShot(0, this, [this, sources, destination] { move(sources, destination); });
            });
    connect(addRow, &QPushButton::clicked, this, &CommandsPanel::startAdd);

    connect(&model, &MacModel::commandsChanged, this, &CommandsPanel::rebuild);
    connect(&model, &MacModel::activeTabIDChanged, this, &CommandsPanel::updateEnabled);
    connect(&model, &MacModel::tabsChanged, this, &CommandsPanel::updateEnabled);
    rebuild();
}

void CommandsPanel::rebuild()
{
    rows->clear();
    for (const SavedCommand& saved : model.commands()) {
        auto* item = new QListWidgetItem(saved.label, rows);
        item->setData(commandRole, saved.command);
        // As the row shows it: a direction override would show another command than the one run.
        item->setToolTip(plainToolTip(visibleText(saved.command)));
    }
    updateEnabled();
}

void CommandsPanel::updateEnabled()
{
    // Running needs an active tab; moving a row and its context menu do not.
    const bool runnable = model.activeTab() != nullptr;
    for (int row = 0; row < rows->count(); ++row) {
        QListWidgetItem* item = rows->item(row);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        item->setData(runnableRole, runnable);
    }
}

bool CommandsPanel::rowRunnable(int row) const
{
    const QListWidgetItem* item = rows->item(row);
    return item != nullptr && item->data(runnableRole).toBool();
}

QMenu* CommandsPanel::rowMenu(qsizetype index)
{
    auto* menu = new QMenu(this);
    QAction* edit = menu->addAction(QStringLiteral("Modifier…"));
    QAction* remove = menu->addAction(QStringLiteral("Supprimer"));
    connect(edit, &QAction::triggered, this, [this, index] { startEdit(index); });
    connect(remove, &QAction::triggered, this, [this, index] { deleteCommand(index); });
    return menu;
}

void CommandsPanel::run(const SavedCommand& saved)
{
    if (MacTab* tab = model.activeTab(); tab != nullptr && tab->terminal) {
        const QByteArray bytes = (saved.command + u'\r').toUtf8();
        tab->terminal->sendUserInput(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    }
    if (MacTab* tab = model.activeTab(); tab != nullptr && tab->terminal && tab->terminal->isVisible())
        tab->terminal->setFocus(Qt::OtherFocusReason);
}

void CommandsPanel::startAdd()
{
    label.clear();
    command.clear();
    editing.reset();
    adding = true;
    showAlert();
}

void CommandsPanel::startEdit(qsizetype index)
{
    if (index < 0 || index >= model.commands().size())
        return;
    label = model.commands().at(index).label;
    command = model.commands().at(index).command;
    adding = false;
    editing = index;
    showAlert();
}

void CommandsPanel::save()
{
    const QList<SavedCommand> list = savedCommands(model.commands(), adding ? std::nullopt : editing, label, command);
    model.setCommands(list);
    model.prefs.setCommands(list);
    closeAlert();
}

void CommandsPanel::deleteCommand(qsizetype index)
{
    QList<SavedCommand> list = model.commands();
    if (index < 0 || index >= list.size())
        return;
    list.removeAt(index);
    model.setCommands(list);
    model.prefs.setCommands(list);
}

void CommandsPanel::move(const QList<qsizetype>& sources, qsizetype destination)
{
    const QList<SavedCommand> list = movedCommands(model.commands(), sources, destination);
    model.setCommands(list);
    model.prefs.setCommands(list);
    // The list may show a drop the model did not take (the same order): show the model.
    rebuild();
}

void CommandsPanel::showAlert()
{
    if (alertDialog) {
        alertDialog->disconnect(this);
        alertDialog->close();
    }
    auto* dialog = new QDialog(this);
    alertDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    const QString title = adding ? QStringLiteral("Nouvelle commande") : QStringLiteral("Modifier la commande");
    dialog->setWindowTitle(title);
    auto* layout = new QVBoxLayout(dialog);
    // In the sheet itself: a window title may be cut short, or not shown at all.
    QLabel* heading = plainLabel(title, dialog);
    heading->setObjectName(QStringLiteral("title"));
    QFont headingFont = heading->font();
    headingFont.setWeight(QFont::DemiBold);
    heading->setFont(headingFont);
    layout->addWidget(heading);
    auto* labelField = new QLineEdit(label, dialog);
    labelField->setObjectName(QStringLiteral("label"));
    labelField->setPlaceholderText(QStringLiteral("Libellé"));
    auto* commandField = new QLineEdit(command, dialog);
    commandField->setObjectName(QStringLiteral("command"));
    commandField->setPlaceholderText(QStringLiteral("Commande"));
    commandField->setMinimumWidth(260);
    layout->addWidget(labelField);
    layout->addWidget(commandField);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* saveButton = buttons->addButton(QStringLiteral("Enregistrer"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    saveButton->setDefault(true);
    layout->addWidget(buttons);
    connect(labelField, &QLineEdit::textChanged, this, [this](const QString& text) { label = text; });
    connect(commandField, &QLineEdit::textChanged, this, [this](const QString& text) { command = text; });
    connect(buttons, &QDialogButtonBox::accepted, this, &CommandsPanel::save);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    // Closed by any means, the alert no longer adds or edits.
    connect(dialog, &QDialog::finished, this, [this] {
        adding = false;
        editing.reset();
    });
    dialog->open();
}

void CommandsPanel::closeAlert()
{
    adding = false;
    editing.reset();
    if (alertDialog)
        alertDialog->accept();
}

} // namespace halvoren
