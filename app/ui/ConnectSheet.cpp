#include "ui/ConnectSheet.h"

#include "platform/DetachedProcess.h"
#include "platform/SecretStore.h"
#include "remote/Async.h"
#include "style/Palette.h"
#include "style/VisibleText.h"
#include "ui/PlainText.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainterPath>
#include <QPushButton>
#include <QRegion>
#include <QTimer>
#include <QVBoxLayout>

namespace halvoren {

namespace {

constexpr int sheetWidth = 640;
constexpr int terminalHeight = 260;
constexpr double terminalFontSize = 12;
constexpr double cornerRadius = 8;

QColor systemOrange()
{
    return QColor::fromRgbF(1.0f, 0.62f, 0.04f);
}

void setTextColour(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget.setPalette(palette);
}

// A warning in the sheet, hidden until it applies.
QLabel* noteLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    setTextColour(*label, systemOrange());
    label->hide();
    return label;
}

} // namespace

// ---- The terminal's frame

BootTerminal::BootTerminal(MacProfile profileValue, bool rememberValue, std::function<void(BootResult)> finishedValue,
                           QWidget* parent)
    : QWidget(parent), profile(std::move(profileValue)), remember(rememberValue), finished(std::move(finishedValue)),
      terminalView(new BootTermView(QRect(0, 0, 600, terminalHeight), this))
{
    terminalView->setNativeBackgroundColor(terminalBackground());
    terminalView->setNativeForegroundColor(terminalForeground());
    terminalView->setCaretColor(terminalCaret());
    terminalView->optionAsMetaKey = false;
    terminalView->setTerminalFont(terminalFont(terminalFontSize));
    terminalView->remember = remember;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(terminalView);
    setFixedHeight(terminalHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, terminalBackground());
    setPalette(palette);
    setAutoFillBackground(true);
}

BootTerminal::~BootTerminal()
{
    teardown();
}

void BootTerminal::start(SecretStore* keychain)
{
    if (started)
        return;
    started = true;
    terminalView->keychain = keychain;
    terminalView->bootStart(profile, finished);
    // Once the sheet is on screen, the keyboard goes to the terminal.
    QTimer::singleShot(0, terminalView, [view = terminalView] { view->setFocus(Qt::OtherFocusReason); });
}

void BootTerminal::setRemember(bool value)
{
    remember = value;
    terminalView->remember = value;
}

void BootTerminal::teardown()
{
    terminalView->teardown();
}

void BootTerminal::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}

// ---- The sheet

ConnectSheet::ConnectSheet(MacProfile profileValue, std::function<void(std::shared_ptr<SSHLink>)> doneValue,
                           QWidget* parent)
    : QDialog(parent), profile(std::move(profileValue)), done(std::move(doneValue))
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    setWindowTitle(plainWindowTitle(QStringLiteral("Connexion à ") + visibleText(profile.name)));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);

    auto* title = new WrappedLabel(QStringLiteral("Connexion à ") + visibleText(profile.name), this);
    title->setObjectName(QStringLiteral("title"));
    title->setMaximumLines(titleLines);
    title->setToolTip(plainToolTip(visibleText(profile.name)));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(15);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    layout->addWidget(title);

    auto* explanation = plainLabel(
        QStringLiteral("Si le serveur le demande, saisis ton mot de passe ou la passphrase de ta clé dans le terminal ci-dessous."),
        this);
    explanation->setWordWrap(true);
    QFont calloutFont = explanation->font();
    calloutFont.setPointSizeF(12);
    explanation->setFont(calloutFont);
    setTextColour(*explanation, Palette::secondaryText());
    layout->addWidget(explanation);

    // The sheet may be gone when a result comes: the callback holds it weakly, and acts on a
    // later turn, so that whoever receives `done` may close or delete the sheet safely.
    const QPointer<ConnectSheet> self(this);
    bootTerminal = new BootTerminal(profile, true,
                                    [self](BootResult result) {
                                        if (!self)
                                            return;
                                        QTimer::singleShot(0, self, [self, result = std::move(result)] {
                                            if (self)
                                                self->bootFinished(result);
                                        });
                                    },
                                    this);
    layout->addWidget(bootTerminal);
    bootTerminal->view()->installEventFilter(this);

    // The failure quotes ssh, host names and all: wrapped anywhere a long word needs.
    failureLabel = new WrappedLabel(QString(), this);
    failureLabel->setFont(calloutFont);
    setTextColour(*failureLabel, systemOrange());
    failureLabel->hide();
    layout->addWidget(failureLabel);

    // Lines of their own above the buttons: each sentence is read whole, wrapped when long.
    keychainMissingLabel = noteLabel(noKeychainMessage, calloutFont, this);
    layout->addWidget(keychainMissingLabel);
    // A link of the terminal is opened here, not under the sheet, so this is where it is said.
    openerMissingLabel = noteLabel(noLinkOpenerMessage, calloutFont, this);
    layout->addWidget(openerMissingLabel);
    bootTerminal->view()->onLinkNotOpened = [label = openerMissingLabel] { label->show(); };

    auto* bottom = new QHBoxLayout;
    rememberToggle = new QCheckBox(QStringLiteral("Mémoriser le mot de passe (trousseau)"), this);
    rememberToggle->setChecked(true);
    connect(rememberToggle, &QCheckBox::toggled, this, [this](bool on) { bootTerminal->setRemember(on); });
    bottom->addWidget(rememberToggle);
    bottom->addStretch(1);
    closeButton = new QPushButton(QStringLiteral("Annuler"), this);
    closeButton->setAutoDefault(false);
    connect(closeButton, &QPushButton::clicked, this, &ConnectSheet::reject);
    bottom->addWidget(closeButton);
    layout->addLayout(bottom);
}

ConnectSheet::~ConnectSheet()
{
    // Deleted without being closed: ssh must not outlive the sheet.
    bootTerminal->teardown();
}

bool ConnectSheet::remember() const
{
    return rememberToggle->isChecked();
}

void ConnectSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    checkKeychain();
    bootTerminal->start(keychain);
}

namespace {

Task<> askKeychain(QPointer<ConnectSheet> sheet, SecretStore& secrets, std::function<void(ConnectSheet&, bool)> answered)
{
    QCoro::Task<bool> asking = secrets.serviceAvailable();
    const bool available = co_await std::move(asking);
    if (sheet)
        answered(*sheet, available);
}

} // namespace

void ConnectSheet::checkKeychain()
{
    if (keychainChecked)
        return;
    keychainChecked = true;
    SecretStore& secrets = keychain != nullptr ? *keychain : SecretStore::standard();
    // Ticked, the box would promise a password kept where nothing can keep it.
    askKeychain(QPointer<ConnectSheet>(this), secrets, [](ConnectSheet& sheet, bool available) {
        sheet.keychainAnswer = available;
        if (available)
            return;
        sheet.rememberToggle->setChecked(false);
        sheet.rememberToggle->setEnabled(false);
        sheet.keychainMissingLabel->show();
    });
}

bool ConnectSheet::eventFilter(QObject* watched, QEvent* event)
{
    // The terminal would send Escape to ssh, which asks nothing that needs it; the sheet's
    // way out comes first. A shortcut override is claimed too, so no menu takes the key.
    if (watched == bootTerminal->view()
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            reject();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ConnectSheet::bootFinished(const BootResult& result)
{
    if (reported)
        return;
    if (!result.succeeded()) {
        failure = result.message;
        failureLabel->setText(result.message);
        failureLabel->show();
        closeButton->setText(QStringLiteral("Fermer"));
        return;
    }
    accept();
    report(result.link);
}

void ConnectSheet::reject()
{
    bootTerminal->teardown();
    QDialog::reject();
    report(nullptr);
}

void ConnectSheet::report(std::shared_ptr<SSHLink> link)
{
    if (reported)
        return;
    reported = true;
    const std::function<void(std::shared_ptr<SSHLink>)> callback = done;
    if (callback)
        callback(std::move(link));
}

QSize ConnectSheet::sizeHint() const
{
    return fixedWidthSheetSize(*this);
}

} // namespace halvoren
