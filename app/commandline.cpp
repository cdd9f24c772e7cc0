#include "commandline.h"

#include "engine.h"
#include "textfold.h"
#include "files.h"
#include "importer.h"
#include "modDB.h"
#include "oldfile.h"
#include "synccommands.h"
#include "synclinks.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace brisolta {

namespace {

enum Status { Done = 0, Failed = 1, WrongUsage = 2 };

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int wrongUsage(const QString &why)
{
    err() << "Brisolta: " << why << "\nPer l'aiuto: Brisolta --help" << Qt::endl;
    return WrongUsage;
}

int failed(const QString &why)
{
    err() << "Brisolta: " << why << Qt::endl;
    return Failed;
}

// What went wrong with the contact file, in the user's words where the engine's number says it plainly.
QString storeFailure(const QString &path, const EngineError &error)
{
    switch (error.number() & 0xff) {
    case SQLITE_BUSY: return QStringLiteral("%1: il file dei contatti è occupato da un'altra scrittura; riprovare.").arg(path);
    case SQLITE_READONLY: return QStringLiteral("%1: il file dei contatti è di sola lettura.").arg(path);
    case SQLITE_FULL: return QStringLiteral("%1: il disco è pieno; nulla è stato aggiunto.").arg(path);
    case SQLITE_CANTOPEN: return QStringLiteral("%1: impossibile aprire il file dei contatti.").arg(path);
    case SQLITE_NOTADB:
        if (oldfile::isOldFile(path))
            return QStringLiteral("%1: il file è di una versione precedente di Brisolta; aprire il programma una volta "
                                  "per convertirlo.").arg(path);
        return QStringLiteral("%1: non è un file dei contatti di questa versione di Brisolta.").arg(path);
    case SQLITE_CORRUPT: return QStringLiteral("%1: il file dei contatti è danneggiato.").arg(path);
    default: return QStringLiteral("%1: errore del database %2: %3").arg(path).arg(error.number()).arg(error.text());
    }
}

// The contact file, created as a first start would when `create` is set; otherwise it must exist.
std::unique_ptr<Database> contactFile(const QString &path, bool create)
{
    if (!QFileInfo::exists(path)) {
        if (!create)
            throw FileError(QStringLiteral("%1: il file dei contatti non esiste.").arg(path));
        // A mistyped --file would otherwise split the contacts over two files without a word.
        out() << "Nuovo file dei contatti: " << path << '.' << Qt::endl;
    }
    return modDB::OpenContactFile(path, create);
}

// Progress on a terminal only: a script reading stderr wants the outcome, not a counter.
ImportProgress progressOnTerminal()
{
#ifdef Q_OS_UNIX
    if (isatty(STDERR_FILENO)) {
        return [](std::size_t done, std::size_t total) {
            err() << "\rImportazione: " << done << " di " << total << Qt::flush;
            if (done == total)
                err() << Qt::endl;
        };
    }
#endif
    return {};
}

int importFiles(const QString &path, const QStringList &files, bool dryRun)
{
    int skipped = 0;
    Contacts read = readContactFiles(files, &skipped);
    // A dry run writes nothing, not even a new contact file: without one, it counts against an empty file in memory.
    const std::unique_ptr<Database> file =
        dryRun && !QFileInfo::exists(path) ? modDB::EmptyContactFile() : contactFile(path, !dryRun);
    const ImportResult result = importContacts(*file, read, dryRun, progressOnTerminal());
    out() << (dryRun ? "Contatti da aggiungere: " : "Contatti aggiunti: ") << result.added.size()
          << ". Già presenti: " << result.duplicates << '.' << skippedCount(skipped)
          << (dryRun ? " Nulla è stato scritto." : "") << Qt::endl;
    return Done;
}

int exportFile(const QString &path, const QString &file, vcard::Version version)
{
    const std::unique_ptr<Database> contacts = contactFile(path, false);
    // The contacts and their cards' UIDs as of one moment: the window may be syncing the file meanwhile.
    Transaction reading(*contacts, false);
    const Contacts stored = storedContacts(*contacts);
    const std::vector<QString> uids = links::uids(*contacts);
    reading.Commit();
    writeContactFile(file, stored, version, uids);
    out() << "Esportati " << contactsCount(qsizetype(stored.size())) << " in " << file << '.' << Qt::endl;
    return Done;
}

int findContacts(const QString &path, const QString &text)
{
    const QString folded = foldCase(text);
    for (const Contact &contact : storedContacts(*contactFile(path, false))) {
        const bool found = std::any_of(contact.begin(), contact.end(), [&folded](const FieldValue &value) {
            return value && startsWithFolded(*value, folded);
        });
        if (!found)
            continue;
        QStringList texts;
        // One contact a line, one field a column: tabs and line breaks inside a text would split them.
        for (const FieldValue &value : contact) {
            QString text = value.value_or(QString());
            std::replace_if(text.begin(), text.end(), [](QChar c) { return c == u'\t' || c == u'\r' || c == u'\n'; }, u' ');
            texts << text;
        }
        out() << texts.join(QLatin1Char('\t')) << '\n';
    }
    out().flush();
    return Done;
}

} // namespace

bool isCommandLine(int argc, char *argv[])
{
    // Qt's own options (-platform, -style, the -session a desktop restores with) still open the window.
    return std::any_of(argv + 1, argv + argc, [](const char *argument) {
        return std::strncmp(argument, "--", 2) == 0 || std::strcmp(argument, "-h") == 0;
    });
}

int runCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Rubrica Brisolta. Senza argomenti apre la finestra; con queste opzioni importa, esporta o "
                       "cerca contatti senza finestra."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Mostra questo aiuto."));
    const QCommandLineOption importing(QStringLiteral("import"),
                                       QStringLiteral("Aggiunge i contatti dei FILE indicati (.vcf, .csv, oppure .mdb "
                                                      "di una versione precedente); quelli già presenti non si ripetono."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Con --import: dice quanti contatti aggiungerebbe, senza scrivere nulla."));
    const QCommandLineOption exporting(QStringLiteral("export"),
                                       QStringLiteral("Scrive tutti i contatti nel FILE, vCard (.vcf) o CSV (.csv) "
                                                      "secondo l'estensione."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption vcardVersion(QStringLiteral("vcard-version"),
                                          QStringLiteral("Con --export in .vcf: la versione vCard, 3.0 (predefinita) o 4.0."),
                                          QStringLiteral("VERSIONE"));
    const QCommandLineOption finding(QStringLiteral("find"),
                                     QStringLiteral("Elenca i contatti in cui un campo comincia con TESTO (maiuscole e "
                                                    "minuscole indifferenti): uno per riga, i sei campi separati da "
                                                    "tabulazioni."),
                                     QStringLiteral("TESTO"));
    const QCommandLineOption file(QStringLiteral("file"),
                                  QStringLiteral("Usa il file dei contatti PERCORSO invece di archivio.mdb del programma."),
                                  QStringLiteral("PERCORSO"));
    const QCommandLineOption syncSetup(QStringLiteral("sync-setup"),
                                       QStringLiteral("Imposta la sincronizzazione con la rubrica del server CardDAV "
                                                      "all'INDIRIZZO (con --user, e --addressbook se ne ha più d'una)."),
                                       QStringLiteral("INDIRIZZO"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Con --sync-setup: il nome utente."),
                                  QStringLiteral("NOME"));
    const QCommandLineOption addressBook(QStringLiteral("addressbook"),
                                         QStringLiteral("Con --sync-setup: la rubrica del server da usare."),
                                         QStringLiteral("NOME"));
    const QCommandLineOption passwordStdin(QStringLiteral("password-stdin"),
                                           QStringLiteral("Legge la password dalla prima riga dello standard input."));
    const QCommandLineOption trust(QStringLiteral("trust"),
                                   QStringLiteral("Con --sync-setup: si fida del certificato con questa impronta SHA-256."),
                                   QStringLiteral("IMPRONTA"));
    const QCommandLineOption allowHttp(QStringLiteral("allow-http"),
                                       QStringLiteral("Con --sync-setup: accetta che la password viaggi in chiaro (http://)."));
    const QCommandLineOption syncing(QStringLiteral("sync"),
                                     QStringLiteral("Sincronizza i contatti con il server (con --dry-run dice solo che "
                                                    "cosa farebbe)."));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Con --sync: procede anche se eliminerebbe gran parte dei contatti."));
    const QCommandLineOption syncOff(QStringLiteral("sync-off"),
                                     QStringLiteral("Disattiva la sincronizzazione: dimentica impostazioni, password e "
                                                    "collegamenti."));
    parser.addOptions({help, importing, dryRun, exporting, vcardVersion, finding, file, syncSetup, user, addressBook,
                       passwordStdin, trust, allowHttp, syncing, force, syncOff});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Con --import: i file da importare."),
                                 QStringLiteral("[FILE...]"));

    if (!parser.parse(arguments))
        return wrongUsage(parser.errorText());
    if (parser.isSet(help)) {
        out() << parser.helpText() << Qt::flush;
        return Done;
    }
    const int actions = int(parser.isSet(importing)) + int(parser.isSet(exporting)) + int(parser.isSet(finding)) +
                        int(parser.isSet(syncSetup)) + int(parser.isSet(syncing)) + int(parser.isSet(syncOff));
    if (actions != 1)
        return wrongUsage(QStringLiteral("indicare una sola operazione fra --import, --export, --find, --sync-setup, "
                                         "--sync e --sync-off."));
    if (parser.isSet(syncSetup) != parser.isSet(user) || (parser.isSet(addressBook) && !parser.isSet(syncSetup)) ||
        (parser.isSet(trust) && !parser.isSet(syncSetup)) || (parser.isSet(allowHttp) && !parser.isSet(syncSetup)))
        return wrongUsage(QStringLiteral("--sync-setup vuole --user; --user, --addressbook, --trust e --allow-http "
                                         "vanno con --sync-setup."));
    if ((parser.isSet(force) && !parser.isSet(syncing)) ||
        (parser.isSet(passwordStdin) && !parser.isSet(syncing) && !parser.isSet(syncSetup)))
        return wrongUsage(QStringLiteral("--force va con --sync; --password-stdin con --sync o --sync-setup."));
    const QStringList files = parser.positionalArguments();
    if (parser.isSet(importing) && files.isEmpty())
        return wrongUsage(QStringLiteral("--import vuole almeno un file da importare."));
    if (!parser.isSet(importing) && !files.isEmpty())
        return wrongUsage(QStringLiteral("argomento inatteso: %1").arg(files.first()));
    if (parser.isSet(dryRun) && !parser.isSet(importing) && !parser.isSet(syncing))
        return wrongUsage(QStringLiteral("--dry-run va con --import o --sync."));
    const QString version = parser.value(vcardVersion);
    if (parser.isSet(vcardVersion) && (kindOf(parser.value(exporting)) != FileKind::VCard ||
                                       (version != QLatin1String("3.0") && version != QLatin1String("4.0"))))
        return wrongUsage(QStringLiteral("--vcard-version vuole 3.0 o 4.0, con --export in un file .vcf."));
    if (parser.isSet(exporting) && kindOf(parser.value(exporting)).value_or(FileKind::OldFile) == FileKind::OldFile)
        return wrongUsage(QStringLiteral("--export scrive file .vcf o .csv: %1").arg(parser.value(exporting)));

    const QString path =
        parser.isSet(file) ? parser.value(file) : modDB::ContactFolder() + QLatin1Char('/') + modDB::FileName;
    const SyncRequest sync{path,
                           parser.value(syncSetup),
                           parser.value(user),
                           parser.value(addressBook),
                           parser.value(trust),
                           parser.isSet(passwordStdin),
                           parser.isSet(allowHttp),
                           parser.isSet(dryRun),
                           parser.isSet(force)};
    try {
        if (parser.isSet(syncSetup))
            return setUpSync(sync);
        if (parser.isSet(syncing))
            return runSync(sync);
        if (parser.isSet(syncOff))
            return turnSyncOff(sync);
        if (parser.isSet(importing))
            return importFiles(path, files, parser.isSet(dryRun));
        if (parser.isSet(exporting))
            return exportFile(path, parser.value(exporting),
                              version == QLatin1String("4.0") ? vcard::Version::V4 : vcard::Version::V3);
        return findContacts(path, parser.value(finding));
    } catch (const FileError &error) {
        return failed(error.message());
    } catch (const EngineError &error) {
        return failed(storeFailure(path, error));
    } catch (const std::bad_alloc &) {
        return failed(QStringLiteral("memoria insufficiente; nulla è stato scritto."));
    }
}

} // namespace brisolta
