#pragma once

// The sync dialog: where the contact file syncs to (server, user, password, address book), a sync on the user's word,
// and sync turned off.

#include "synchronizer.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SyncRunner;

class SyncDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SyncDialog(SyncRunner &runner, QWidget *parent = nullptr);

    QLineEdit *server = nullptr;
    QLineEdit *user = nullptr;
    QLineEdit *password = nullptr;
    QComboBox *addressBook = nullptr;
    QPushButton *findBooks = nullptr;
    QLabel *status = nullptr;
    QPushButton *syncNow = nullptr;
    QPushButton *turnOff = nullptr;
    QPushButton *closeButton = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showState();
    std::optional<QUrl> serverUrl();
    // The server and user as typed: the address books listed were found for one such pair.
    QString account() const;
    void search(bool thenSync);
    void found(const std::vector<carddav::AddressBook> &books, const QString &account, bool thenSync);
    void startSync();
    void save();
    void turnSyncOff();
    // Asks whether to trust the certificate the server showed, or to send the password in clear; yes keeps it.
    bool accepted(const carddav::SyncError &error);

    SyncRunner &m_runner;
    QByteArray m_pinned;
    bool m_cleartext = false;
    bool m_searching = false;
    QString m_booksFor;
    QString m_note; // what the dialog itself did last, above the sync's state
};
