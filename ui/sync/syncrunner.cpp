#include "syncrunner.h"

#include "keyring.h"
#include "listrecords.h"
#include "listview.h"
#include "modDB.h"
#include "runtime.h"
#include "synclinks.h"

#include <QApplication>
#include <QEvent>
#include <QInputDialog>
#include <QWidget>

#include <algorithm>
#include <unordered_set>

namespace {

const QString Title = QStringLiteral("Sincronizzazione");
// Changes close together go to the server in one sync.
constexpr int PauseAfterChange = 2000;

// "11:20" today, "3/11 11:20" another day.
QString shortTime(const QDateTime &when)
{
    return when.toString(when.date() == QDate::currentDate() ? QStringLiteral("HH:mm") : QStringLiteral("d/M HH:mm"));
}

} // namespace

void showSyncResult(ListView &list, const carddav::SyncResult &result)
{
    // Many changed records are taken out and brought back in one batch: finding each row alone would cost a pass
    // over the list for every one of them.
    const bool many = result.changed.size() > 64;
    // Removed first: SQLite may give a removed record's rowid to a card the same sync added.
    std::unordered_set<qint64> removed(result.removedRecords.begin(), result.removedRecords.end());
    if (many)
        removed.insert(result.changed.begin(), result.changed.end());
    if (!removed.empty())
        list.listModel().removeRowsWithTags(removed);
    ContactRecords records(*modDB::ContactDB);
    Contacts added;
    std::vector<qint64> addedRecords;
    const auto bringIn = [&](qint64 record) {
        if (const std::optional<Contact> texts = records.read(record))
            added.push_back(*texts), addedRecords.push_back(record);
    };
    for (const qint64 record : result.changed) {
        const std::optional<ListItem> row = many ? std::nullopt : list.ItemWithTag(record);
        if (row)
            showRecord(list, *row, records.read(record));
        else
            bringIn(record);
    }
    // Added records are new to the file, so no row shows them yet.
    std::for_each(result.added.begin(), result.added.end(), bringIn);
    listRecords(list, added, addedRecords);
}

SyncRunner::SyncRunner(QWidget &window, ListView &list, QObject *parent) : QObject(parent), m_list(list)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseAfterChange);
    connect(&m_pause, &QTimer::timeout, this, [this] { request(false); });
    // The first sync waits for the window's first paint, which it must never delay.
    window.installEventFilter(this);
}

SyncRunner::~SyncRunner()
{
    // A sync stopped half-way leaves the file consistent; a short wait lets one about to end finish.
    if (m_worker)
        m_worker->wait(5000);
}

bool SyncRunner::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint) {
        watched->removeEventFilter(this);
        QTimer::singleShot(0, this, [this] { start(); });
    }
    return QObject::eventFilter(watched, event);
}

std::optional<carddav::Settings> SyncRunner::settings()
{
    try {
        if (!modDB::DBLoaded || !modDB::ContactDB || !links::isSynced(*modDB::ContactDB))
            return std::nullopt;
        carddav::Settings settings = carddav::readSettings(*modDB::ContactDB);
        if (settings.addressBook.isEmpty())
            return std::nullopt;
        return settings;
    } catch (const EngineError &) {
        // A sync could not read the file either; the window's own actions say why.
        return std::nullopt;
    }
}

QString SyncRunner::menuText() const
{
    const QString item = QStringLiteral("Sincronizzazione…");
    if (m_busy)
        return item + (m_total > 0 ? QStringLiteral(" %1 di %2").arg(m_done).arg(m_total) : QStringLiteral(" in corso"));
    if (m_last)
        return item + QStringLiteral(" (ultima: %1, %2)")
                          .arg(shortTime(m_last->when), m_last->succeeded ? QStringLiteral("riuscita") : QStringLiteral("non riuscita"));
    return item;
}

QString SyncRunner::statusText() const
{
    if (m_busy)
        return m_total > 0 ? QStringLiteral("Sincronizzazione in corso. %1: %2 di %3.").arg(m_step).arg(m_done).arg(m_total)
                           : QStringLiteral("Sincronizzazione in corso.");
    if (!settings())
        return QStringLiteral("La sincronizzazione non è impostata.");
    if (!m_last)
        return QStringLiteral("Nessuna sincronizzazione finora.");
    const QString outcome = QStringLiteral("Ultima sincronizzazione: %1, %2.")
                                .arg(shortTime(m_last->when), m_last->succeeded ? QStringLiteral("riuscita") : QStringLiteral("non riuscita"));
    return m_last->detail.isEmpty() ? outcome : outcome + QLatin1Char('\n') + m_last->detail;
}

void SyncRunner::start()
{
    if (!settings())
        return;
    try {
        Database &database = *modDB::ContactDB;
        const QDateTime when = QDateTime::fromString(links::setting(database, "lastRun").value_or(QString()), Qt::ISODate);
        if (when.isValid())
            m_last = Last{when, links::setting(database, "lastResult") == QStringLiteral("ok"), QString()};
    } catch (const EngineError &error) {
        remember(false, engineErrorText(error), false);
        return;
    }
    emit stateChanged();
    request(false);
}

void SyncRunner::changed()
{
    m_pause.start();
}

void SyncRunner::syncNow()
{
    m_pause.stop();
    request(true);
}

void SyncRunner::request(bool manual)
{
    // One sync at a time, and one waiting at most: it sends whatever changed meanwhile.
    if (m_busy) {
        m_queued = true;
        m_queuedManual = m_queuedManual || manual;
        return;
    }
    launch(manual, false);
}

void SyncRunner::launch(bool manual, bool force)
{
    const std::optional<carddav::Settings> settings = SyncRunner::settings();
    if (!settings)
        return;
    carddav::SyncOptions options;
    options.force = force;
    Worker *worker = workApart<Run>(
        this,
        [path = modDB::DBPath, known = m_password, options, server = settings->server.toString(), user = settings->user](Worker &self) {
            Run run{known ? known : keyring::password(server, user), std::nullopt};
            if (run.password)
                run.result = carddav::synchronize(path, *run.password, options, [&self](const QString &step, int done, int total) {
                    emit self.progress(step, done, total);
                });
            return run;
        },
        [this, manual, force](const Outcome<Run> &outcome) { finished(outcome, manual, force); });
    connect(worker, &Worker::progress, this, [this](const QString &step, int done, int total) {
        m_step = step, m_done = done, m_total = total;
        emit stateChanged();
    });
    m_busy = true;
    m_worker = worker;
    worker->start();
    emit stateChanged();
}

void SyncRunner::finished(const Outcome<Run> &outcome, bool manual, bool force)
{
    m_busy = false;
    m_step.clear(), m_done = m_total = 0;
    conclude(outcome, manual, force);
    if (m_queued && !m_busy) {
        const bool queuedManual = m_queuedManual;
        m_queued = m_queuedManual = false;
        launch(queuedManual, false);
    }
    emit stateChanged();
}

void SyncRunner::conclude(const Outcome<Run> &outcome, bool manual, bool force)
{
    if (outcome.result && outcome.result->result) {
        m_password = outcome.result->password;
        showInSlices(*outcome.result->result);
        remember(true, outcome.result->result->summary(), manual);
    } else if (outcome.result) {
        // No keyring keeps the password: the window asks for it once a run.
        if (!m_askedPassword && askPassword())
            launch(manual, force);
        else
            remember(false, QStringLiteral("Manca la password: nessun portachiavi la conserva."), manual);
    } else if (outcome.error) {
        if (!settle(*outcome.error, manual, force))
            remember(false, outcome.error->message(), manual);
    } else {
        remember(false, outcome.failure, manual);
    }
}

void SyncRunner::showInSlices(carddav::SyncResult result)
{
    // Reading a record for its row takes a little while: 10,000 new ones would hold the window for a fifth of a
    // second, so they come in a thousand at a time, the window answering between slices.
    constexpr std::size_t Slice = 1000;
    carddav::SyncResult rest;
    if (result.added.size() > Slice) {
        rest.added.assign(result.added.begin() + Slice, result.added.end());
        result.added.resize(Slice);
    }
    reportingEngineErrors([&] { showSyncResult(m_list, result); });
    if (!rest.added.empty())
        QTimer::singleShot(0, this, [this, rest] { showInSlices(rest); });
}

bool SyncRunner::settle(const carddav::SyncError &error, bool manual, bool force)
{
    switch (error.kind()) {
    case carddav::SyncError::Guard:
        if (MsgBox(error.message() + QStringLiteral("\n\nProcedere comunque?"), 36, Title) == vbYes)
            launch(manual, true);
        else
            remember(false, error.message(), false);
        return true;
    case carddav::SyncError::Certificate: {
        std::optional<carddav::Settings> settings = SyncRunner::settings();
        if (!manual || !settings || MsgBox(error.message() + QStringLiteral("\n\nFidarsi di questo certificato?"), 36, Title) != vbYes)
            return false;
        settings->pinned = error.fingerprint();
        reportingEngineErrors([&] {
            Transaction transaction(*modDB::ContactDB);
            carddav::writeSettings(*modDB::ContactDB, *settings);
            transaction.Commit();
            launch(manual, force);
        });
        return true;
    }
    case carddav::SyncError::Password:
        // Not asked again by itself: the dialog takes a new one.
        m_password.reset();
        return false;
    default: return false;
    }
}

bool SyncRunner::askPassword()
{
    m_askedPassword = true;
    const std::optional<carddav::Settings> settings = SyncRunner::settings();
    bool given = false;
    const QString password = QInputDialog::getText(QApplication::activeWindow(), Title,
                                                   QStringLiteral("Password di %1 per %2:")
                                                       .arg(settings ? settings->user : QString(),
                                                            settings ? settings->server.toDisplayString() : QString()),
                                                   QLineEdit::Password, QString(), &given);
    if (given)
        m_password = password;
    return given;
}

void SyncRunner::remember(bool succeeded, const QString &detail, bool manual)
{
    m_last = Last{QDateTime::currentDateTime(), succeeded, detail};
    try {
        Database &database = *modDB::ContactDB;
        if (links::isSynced(database)) {
            Transaction transaction(database);
            links::setSetting(database, "lastRun", m_last->when.toString(Qt::ISODate));
            links::setSetting(database, "lastResult", succeeded ? QStringLiteral("ok") : QStringLiteral("error"));
            transaction.Commit();
        }
    } catch (const EngineError &) {
        // A busy file keeps the outcome for this run only; the next sync writes its own.
    }
    if (!succeeded && manual)
        MsgBox(detail, 16, Title);
    emit stateChanged();
}

void SyncRunner::turnOff()
{
    Database &database = *modDB::ContactDB;
    if (links::isSynced(database)) {
        const carddav::Settings settings = carddav::readSettings(database);
        Transaction transaction(database);
        links::dropTables(database);
        transaction.Commit();
        const auto forget = [server = settings.server.toString(), user = settings.user](Worker &) {
            keyring::forget(server, user);
            return true;
        };
        Worker *forgetting = workApart<bool>(this, forget, [](const Outcome<bool> &) {});
        forgetting->start();
    }
    m_password.reset();
    m_last.reset();
    m_pause.stop();
    m_queued = m_queuedManual = false;
    emit stateChanged();
}
