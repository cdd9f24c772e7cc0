#include "syncdialog.h"

#include "design.h"
#include "keyring.h"
#include "modDB.h"
#include "runtime.h"
#include "syncrunner.h"
#include "worker.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace {

const QString Title = QStringLiteral("Sincronizzazione");
// Beside an address book's URL, in its list item: whether it answers sync-collection reports.
constexpr int SyncCollectionRole = Qt::UserRole + 1;

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton *button(QWidget *dialog, const char *name, const QString &caption)
{
    QPushButton *created = named(new QPushButton(caption, dialog), name);
    created->setAutoDefault(false);
    return created;
}

} // namespace

SyncDialog::SyncDialog(SyncRunner &runner, QWidget *parent) : QDialog(parent), m_runner(runner)
{
    setObjectName(QStringLiteral("syncDialog"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(Title);
    setFont(formFont());

    server = named(new QLineEdit(this), "server");
    server->setPlaceholderText(QStringLiteral("https://"));
    user = named(new QLineEdit(this), "user");
    password = named(new QLineEdit(this), "password");
    password->setEchoMode(QLineEdit::Password);
    addressBook = named(new QComboBox(this), "addressBook");
    findBooks = button(this, "findBooks", QStringLiteral("Cerca rubriche"));
    status = named(new QLabel(this), "status");
    status->setWordWrap(true);
    status->setAccessibleName(QStringLiteral("Stato"));
    syncNow = button(this, "syncNow", QStringLiteral("Sincronizza ora"));
    syncNow->setDefault(true);
    turnOff = button(this, "turnOff", QStringLiteral("Disattiva"));
    closeButton = button(this, "closeButton", QStringLiteral("Chiudi"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Indirizzo del server:"), server);
    form->addRow(QStringLiteral("Utente:"), user);
    form->addRow(QStringLiteral("Password:"), password);
    auto *books = new QHBoxLayout;
    books->addWidget(addressBook, 1);
    books->addWidget(findBooks);
    auto *booksLabel = new QLabel(QStringLiteral("Rubrica:"), this);
    booksLabel->setBuddy(addressBook);
    form->addRow(booksLabel, books);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(syncNow);
    buttons->addWidget(turnOff);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status);
    layout->addLayout(buttons);
    setMinimumWidth(440);

    if (const std::optional<carddav::Settings> settings = SyncRunner::settings()) {
        server->setText(settings->server.toString());
        user->setText(settings->user);
        password->setPlaceholderText(QStringLiteral("(invariata)"));
        addressBook->addItem(settings->addressBook.path().section(u'/', -2, -2), settings->addressBook);
        addressBook->setItemData(0, settings->syncCollection, SyncCollectionRole);
        m_pinned = settings->pinned;
        m_cleartext = settings->cleartext;
        m_booksFor = account();
        syncNow->setFocus();
    }
    // Another server needs its own answers about certificates and clear text.
    connect(server, &QLineEdit::textEdited, this, [this] { m_pinned.clear(), m_cleartext = false; });
    connect(findBooks, &QPushButton::clicked, this, [this] { search(false); });
    connect(syncNow, &QPushButton::clicked, this, [this] { startSync(); });
    connect(turnOff, &QPushButton::clicked, this, [this] { turnSyncOff(); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(&runner, &SyncRunner::stateChanged, this, [this] { showState(); });
    showState();
}

void SyncDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreOnScreen(this);
}

void SyncDialog::showState()
{
    const bool busy = m_runner.isBusy() || m_searching;
    findBooks->setEnabled(!m_searching);
    syncNow->setEnabled(!busy);
    turnOff->setEnabled(!busy && SyncRunner::settings());
    status->setText(m_note.isEmpty() ? m_runner.statusText() : m_note + QLatin1Char('\n') + m_runner.statusText());
}

QString SyncDialog::account() const
{
    return server->text().trimmed() + QLatin1Char('\n') + user->text();
}

std::optional<QUrl> SyncDialog::serverUrl()
{
    if (server->text().trimmed().isEmpty() || user->text().isEmpty()) {
        MsgBox(QStringLiteral("Indicare l'indirizzo del server e l'utente."), 16, Title);
        return std::nullopt;
    }
    const QUrl url = QUrl::fromUserInput(server->text().trimmed());
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        MsgBox(QStringLiteral("Indirizzo del server non valido: %1").arg(server->text().trimmed()), 16, Title);
        return std::nullopt;
    }
    return url;
}

void SyncDialog::search(bool thenSync)
{
    const std::optional<QUrl> url = serverUrl();
    if (!url)
        return;
    const carddav::Account login{user->text(), password->text(), m_pinned, m_cleartext};
    Worker *worker = workApart<std::vector<carddav::AddressBook>>(
        this,
        [login, url = *url](Worker &) {
            carddav::DavClient client(login);
            return carddav::discoverAddressBooks(client, url);
        },
        [this, thenSync, asked = account()](const Outcome<std::vector<carddav::AddressBook>> &outcome) {
            m_searching = false;
            showState();
            if (outcome.result)
                found(*outcome.result, asked, thenSync);
            else if (!outcome.error)
                MsgBox(outcome.failure, 16, Title);
            else if (outcome.error->kind() != carddav::SyncError::Certificate && outcome.error->kind() != carddav::SyncError::Cleartext)
                MsgBox(outcome.error->message(), 16, Title);
            else if (accepted(*outcome.error))
                search(thenSync);
        });
    m_searching = true;
    worker->start();
    showState();
}

bool SyncDialog::accepted(const carddav::SyncError &error)
{
    const bool certificate = error.kind() == carddav::SyncError::Certificate;
    const QString question = certificate ? QStringLiteral("Fidarsi di questo certificato?") : QStringLiteral("Continuare comunque?");
    if (MsgBox(error.message() + QStringLiteral("\n\n") + question, 36, Title) != vbYes)
        return false;
    if (certificate)
        m_pinned = error.fingerprint();
    else
        m_cleartext = true;
    return true;
}

void SyncDialog::found(const std::vector<carddav::AddressBook> &books, const QString &asked, bool thenSync)
{
    const QUrl chosen = addressBook->currentData().toUrl();
    addressBook->clear();
    for (const carddav::AddressBook &book : books) {
        addressBook->addItem(book.name, book.url);
        addressBook->setItemData(addressBook->count() - 1, book.syncCollection, SyncCollectionRole);
    }
    m_booksFor = asked;
    if (books.empty()) {
        MsgBox(QStringLiteral("L'utente non ha rubriche su questo server."), 16, Title);
        return;
    }
    // The one found is the one; of several, the one chosen before, or none until the user chooses.
    const int kept = addressBook->findData(chosen);
    addressBook->setCurrentIndex(books.size() == 1 ? 0 : kept);
    if (!thenSync)
        return;
    if (addressBook->currentIndex() < 0) {
        m_note = QStringLiteral("Il server ha più rubriche: sceglierne una, poi «Sincronizza ora».");
        showState();
        return;
    }
    reportingEngineErrors([this] { save(); });
}

void SyncDialog::startSync()
{
    const std::optional<carddav::Settings> stored = SyncRunner::settings();
    const bool unchanged = stored && stored->server == QUrl::fromUserInput(server->text().trimmed()) &&
                           stored->user == user->text() && stored->addressBook == addressBook->currentData().toUrl();
    if (unchanged && password->text().isEmpty()) {
        m_note.clear();
        m_runner.syncNow();
    } else if (m_booksFor != account() || addressBook->currentIndex() < 0) {
        search(true);
    } else {
        reportingEngineErrors([this] { save(); });
    }
}

void SyncDialog::save()
{
    const std::optional<QUrl> url = serverUrl();
    if (!url)
        return;
    carddav::Settings settings;
    settings.server = *url;
    settings.user = user->text();
    settings.addressBook = addressBook->currentData().toUrl();
    settings.syncCollection = addressBook->currentData(SyncCollectionRole).toBool();
    settings.pinned = m_pinned;
    settings.cleartext = m_cleartext;
    Database &database = *modDB::ContactDB;
    Transaction transaction(database);
    if (links::isSynced(database)) {
        const carddav::Settings stored = carddav::readSettings(database);
        // The links are true only for the address book they were made with.
        if (stored.addressBook != settings.addressBook)
            links::dropTables(database);
        else
            settings.token = stored.token;
    }
    carddav::writeSettings(database, settings);
    transaction.Commit();

    m_runner.setPassword(password->text());
    const auto keep = [server = settings.server.toString(), user = settings.user, password = password->text()](Worker &) {
        return keyring::store(server, user, password);
    };
    Worker *keeping = workApart<bool>(this, keep, [this](const Outcome<bool> &kept) {
        if (kept.result.value_or(false))
            return;
        m_note += QStringLiteral("\nNessun portachiavi disponibile: la password sarà chiesta a ogni avvio.");
        showState();
    });
    keeping->start();
    m_note = QStringLiteral("Sincronizzazione impostata con la rubrica «%1» (%2).")
                 .arg(addressBook->currentText(), settings.addressBook.toDisplayString());
    password->clear();
    password->setPlaceholderText(QStringLiteral("(invariata)"));
    m_runner.syncNow();
}

void SyncDialog::turnSyncOff()
{
    if (MsgBox(QStringLiteral("Disattivare la sincronizzazione? Impostazioni, password e collegamenti ai contatti del "
                              "server saranno dimenticati."),
               36, Title) != vbYes)
        return;
    reportingEngineErrors([this] { m_runner.turnOff(); });
    for (QLineEdit *field : {server, user, password})
        field->clear();
    password->setPlaceholderText(QString());
    addressBook->clear();
    m_booksFor.clear();
    m_pinned.clear();
    m_cleartext = false;
    m_note = QStringLiteral("Sincronizzazione disattivata: impostazioni, password e collegamenti ai contatti del server "
                            "sono stati dimenticati.");
    showState();
}
