#pragma once

// The window's syncs with the address book on the server: one at start, one shortly after each change made in the
// window and one on the user's word, never two at once. Each runs on a thread of its own, on its own connection to
// the contact file; what it changed here then shows in the list.

#include "synchronizer.h"
#include "worker.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

class ListView;

// Shows in the list what a sync changed in the file: rows of added records come in, changed ones show their new
// texts where they belong, still selected if they were, and rows of removed records go. Texts are read from the
// window's own connection, so the list shows what the file holds now.
void showSyncResult(ListView &list, const carddav::SyncResult &result);

class SyncRunner : public QObject
{
    Q_OBJECT
public:
    // Starts its first sync once `window` has painted itself.
    SyncRunner(QWidget &window, ListView &list, QObject *parent = nullptr);
    ~SyncRunner() override;

    // The file's settings, when it syncs with an address book; nothing while the file cannot be read either.
    static std::optional<carddav::Settings> settings();

    bool isBusy() const { return m_busy; }
    // "Sincronizzazione… (ultima: 11:20, riuscita)"; during a sync, how far it is.
    QString menuText() const;
    // How the last sync went, or how far the running one is, in a sentence or two.
    QString statusText() const;

    // A change in the window: a sync follows once changes pause for a moment.
    void changed();
    // A sync on the user's word: what stops it is said in a box; a certificate the server shows may be trusted.
    void syncNow();
    // The password of this run, for when no keyring keeps it.
    void setPassword(const QString &password) { m_password = password; }
    // Forgets settings, links and password: the file is as before sync was set up.
    void turnOff();

signals:
    void stateChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What a sync's thread hands back: the password it used, which it may have read from the keyring, and the
    // result; no password, no result.
    struct Run
    {
        std::optional<QString> password;
        std::optional<carddav::SyncResult> result;
    };
    void start();
    void request(bool manual);
    void launch(bool manual, bool force);
    void finished(const Outcome<Run> &outcome, bool manual, bool force);
    void conclude(const Outcome<Run> &outcome, bool manual, bool force);
    // Asks what a stopped sync needs the user for, and starts it again if the answer lets it; false when the error
    // is simply one to say.
    bool settle(const carddav::SyncError &error, bool manual, bool force);
    bool askPassword();
    void showInSlices(carddav::SyncResult result);
    void remember(bool succeeded, const QString &detail, bool manual);

    ListView &m_list;
    QTimer m_pause;
    QPointer<Worker> m_worker;
    bool m_busy = false;
    bool m_queued = false, m_queuedManual = false;
    QString m_step;
    int m_done = 0, m_total = 0;
    std::optional<QString> m_password;
    bool m_askedPassword = false;

    struct Last
    {
        QDateTime when;
        bool succeeded = false;
        QString detail;
    };
    std::optional<Last> m_last;
};
