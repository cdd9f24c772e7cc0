#include "synccommands.h"

#include "keyring.h"
#include "modDB.h"
#include "synchronizer.h"

#include <QFileInfo>

#include <sqlite3.h>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif

namespace brisolta {

namespace {

using carddav::SyncError;

void say(const QString &text)
{
    QTextStream(stdout) << text << Qt::endl;
}

int fail(const QString &why, int status = 1)
{
    QTextStream(stderr) << "Brisolta: " << why << Qt::endl;
    return status;
}

bool onTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
#else
    return false;
#endif
}

// One line of standard input; on a terminal asked for, and not echoed.
std::optional<QString> readPassword(bool prompt)
{
#ifdef Q_OS_UNIX
    termios saved{};
    const bool hide = prompt && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (prompt)
        QTextStream(stderr) << "Password: " << Qt::flush;
    if (hide) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
#endif
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
#ifdef Q_OS_UNIX
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        QTextStream(stderr) << "\n";
    }
#endif
    if (!read)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

// From standard input when asked to, otherwise from the keyring, otherwise asked on the terminal.
std::optional<QString> passwordFor(const SyncRequest &request, const QString &server, const QString &user)
{
    if (request.passwordOnStdin)
        return readPassword(false);
    if (const std::optional<QString> kept = keyring::password(server, user))
        return kept;
    if (onTerminal())
        return readPassword(true);
    return std::nullopt;
}

// On a terminal, each step's progress on one line of standard error.
carddav::SyncProgress progressOnTerminal()
{
    if (!onTerminal())
        return {};
    return [](const QString &step, int done, int total) {
        QTextStream(stderr) << "\r" << step << ": " << done << " di " << total << (done == total ? "\n" : "") << Qt::flush;
    };
}

QString failure(const SyncError &error)
{
    switch (error.kind()) {
    case SyncError::Certificate:
        return error.message() + QStringLiteral(
                                     "\nSe l'impronta è quella del proprio server, ripetere con --trust %1 per fidarsene.")
                                     .arg(QString::fromLatin1(error.fingerprint().toHex(':').toUpper()));
    case SyncError::Cleartext:
        return error.message() + QStringLiteral(" Per accettarlo comunque: --allow-http.");
    case SyncError::Guard: return error.message() + QStringLiteral(" Per procedere comunque: --force.");
    default: return error.message();
    }
}

} // namespace

int setUpSync(const SyncRequest &request)
{
    const QUrl server = QUrl::fromUserInput(request.server);
    if (!server.isValid() || (server.scheme() != QLatin1String("https") && server.scheme() != QLatin1String("http")))
        return fail(QStringLiteral("indirizzo del server non valido: %1").arg(request.server), 2);
    const std::optional<QString> password =
        request.passwordOnStdin ? readPassword(false) : onTerminal() ? readPassword(true) : std::nullopt;
    if (!password)
        return fail(QStringLiteral("manca la password: scriverla quando è chiesta o darla con --password-stdin."), 2);
    try {
        carddav::Settings settings;
        settings.server = server;
        settings.user = request.user;
        settings.cleartext = request.cleartext;
        settings.pinned = QByteArray::fromHex(request.trusted.toLatin1().replace(':', ""));
        carddav::DavClient client({request.user, *password, settings.pinned, settings.cleartext});
        const std::vector<carddav::AddressBook> books = carddav::discoverAddressBooks(client, server);
        std::vector<carddav::AddressBook> chosen;
        for (const carddav::AddressBook &book : books) {
            if (request.addressBook.isEmpty() || book.name.compare(request.addressBook, Qt::CaseInsensitive) == 0 ||
                book.url.path().section(u'/', -2, -2).compare(request.addressBook, Qt::CaseInsensitive) == 0)
                chosen.push_back(book);
        }
        if (chosen.size() != 1) {
            QString list;
            for (const carddav::AddressBook &book : books)
                list += QStringLiteral("\n  %1  (%2)").arg(book.name, book.url.toDisplayString());
            if (books.empty())
                return fail(QStringLiteral("l'utente non ha rubriche su questo server."));
            return fail((chosen.empty() ? QStringLiteral("nessuna rubrica si chiama «%1». Le rubriche sul server:").arg(request.addressBook)
                                        : QStringLiteral("il server ha più rubriche; indicare quale con --addressbook NOME:")) + list, 2);
        }
        settings.addressBook = chosen.front().url;
        settings.syncCollection = chosen.front().syncCollection;

        const bool existed = QFileInfo::exists(request.path);
        const std::unique_ptr<Database> file = modDB::OpenContactFile(request.path, true);
        if (!existed)
            say(QStringLiteral("Nuovo file dei contatti: %1.").arg(request.path));
        Transaction transaction(*file);
        // The links are true only for the address book they were made with.
        if (links::isSynced(*file) && carddav::readSettings(*file).addressBook != settings.addressBook)
            links::dropTables(*file);
        carddav::writeSettings(*file, settings);
        transaction.Commit();
        say(QStringLiteral("Sincronizzazione impostata con la rubrica «%1» (%2).")
                .arg(chosen.front().name, settings.addressBook.toDisplayString()));
        if (!keyring::store(server.toString(), request.user, *password))
            say(QStringLiteral("Nessun portachiavi disponibile: la password sarà chiesta a ogni sincronizzazione."));
        return 0;
    } catch (const SyncError &error) {
        return fail(failure(error));
    }
}

int runSync(const SyncRequest &request)
{
    try {
        if (!QFileInfo::exists(request.path))
            return fail(QStringLiteral("%1: il file dei contatti non esiste.").arg(request.path));
        carddav::Settings settings;
        {
            const std::unique_ptr<Database> file = modDB::OpenContactFile(request.path, false);
            if (!links::isSynced(*file))
                return fail(QStringLiteral("%1: la sincronizzazione non è impostata; usare prima --sync-setup.").arg(request.path));
            settings = carddav::readSettings(*file);
        }
        const std::optional<QString> password = passwordFor(request, settings.server.toString(), settings.user);
        if (!password)
            return fail(QStringLiteral("manca la password: nessun portachiavi la conserva; darla con --password-stdin."), 2);
        carddav::SyncOptions options;
        options.dryRun = request.dryRun;
        options.force = request.force;
        const carddav::SyncResult result = carddav::synchronize(request.path, *password, options, progressOnTerminal());
        say(request.dryRun ? QStringLiteral("Da inviare %1, da ricevere %2, da eliminare %3. Nulla è stato cambiato.")
                                 .arg(result.sent).arg(result.received).arg(result.removed)
                           : result.summary());
        return 0;
    } catch (const SyncError &error) {
        return fail(failure(error));
    } catch (const EngineError &error) {
        // What a sync wrote before stays, whole batches only; the next one goes on from there.
        if ((error.number() & 0xff) != SQLITE_FULL)
            throw;
        return fail(QStringLiteral("%1: il disco è pieno; la sincronizzazione si è fermata e la prossima riprenderà "
                                   "da dove è arrivata.").arg(request.path));
    }
}

int turnSyncOff(const SyncRequest &request)
{
    if (!QFileInfo::exists(request.path))
        return fail(QStringLiteral("%1: il file dei contatti non esiste.").arg(request.path));
    const std::unique_ptr<Database> file = modDB::OpenContactFile(request.path, false);
    if (links::isSynced(*file)) {
        const carddav::Settings settings = carddav::readSettings(*file);
        keyring::forget(settings.server.toString(), settings.user);
        Transaction transaction(*file);
        links::dropTables(*file);
        transaction.Commit();
    }
    say(QStringLiteral("Sincronizzazione disattivata: impostazioni, password e collegamenti ai contatti del server "
                       "sono stati dimenticati."));
    return 0;
}

} // namespace brisolta
