#pragma once

// The conversation with a CardDAV server: requests over Qt Network, waited for in a local event loop (the caller's
// thread is the sync's own, or a command line's), answers checked before anything of them is believed.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

namespace carddav {

// Why a sync cannot go on, for the user, in Italian.
class SyncError : public std::runtime_error
{
public:
    enum Kind { Network, Password, NotCardDav, Gone, Certificate, Cleartext, Server, TooLarge, Guard, Storage, Usage };
    SyncError(Kind kind, const QString &message, const QByteArray &fingerprint = {});
    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }
    // The SHA-256 of a certificate that did not check, to show and, once the user confirms it, to trust.
    QByteArray fingerprint() const { return m_fingerprint; }

private:
    Kind m_kind;
    QString m_message;
    QByteArray m_fingerprint;
};

struct Account
{
    QString user;
    QString password;
    // The certificate trusted although it does not check, as its SHA-256; and whether http:// may carry the
    // password to a host other than this computer.
    QByteArray pinned;
    bool cleartext = false;
};

struct Reply
{
    int status = 0;
    QByteArray body;
    QByteArray etag;
    QUrl url; // where the answer came from, after redirects
};

// One <response> of a multistatus: its href as a decoded path on the server, and what of it was asked and found.
struct Resource
{
    QString path;
    int status = 200;
    QByteArray etag;
    QByteArray card;
    QString displayName;
    bool addressBook = false;
    bool syncCollection = false;
    QUrl principal;
    QUrl home;
    QString syncToken;
};

struct Multistatus
{
    std::vector<Resource> resources;
    QString syncToken;
};

// Reads a multistatus; throws SyncError(NotCardDav) for anything else, a DTD (and so any entity) included. Hrefs are
// read relative to `base`; one on another server is dropped.
Multistatus parseMultistatus(const QByteArray &xml, const QUrl &base);
// The URL of a path on the same server as `base`.
QUrl onServer(const QUrl &base, const QString &path);

// What a server may send: one card, and one answer as a whole.
inline constexpr qint64 MaxCard = 8 << 20;
inline constexpr qint64 MaxResponse = qint64(256) << 20;

class DavClient
{
public:
    explicit DavClient(const Account &account);
    ~DavClient();

    // Any method; follows redirects to the same host or to HTTPS only; never throws for an HTTP status, only when
    // no answer came or the answer may not be believed.
    Reply send(const QByteArray &verb, const QUrl &url, const QByteArray &body = {},
               const QList<std::pair<QByteArray, QByteArray>> &headers = {});
    struct Request
    {
        QByteArray verb;
        QUrl url;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
    };
    // The requests, up to `parallel` of them on their way at once, so that neither side waits for the other's turn;
    // each answer is handed to `answered` with the request's index as it arrives. What send throws stops them all.
    void sendAll(const std::vector<Request> &requests, int parallel,
                 const std::function<void(std::size_t index, const Reply &reply)> &answered);
    // PROPFIND and REPORT, their 207 answer read; another status throws.
    Multistatus propfind(const QUrl &url, int depth, const QByteArray &properties);
    Multistatus report(const QUrl &url, const QByteArray &body, int depth, const QByteArray &verb = "REPORT");
    // The error a status means for the user, thrown.
    [[noreturn]] static void fail(const Reply &reply, const QString &what);

    // How long a request may go without a byte before it is given up.
    void setStallTime(int milliseconds) { m_stallTime = milliseconds; }

private:
    struct Exchange;
    std::unique_ptr<Exchange> start(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                                    const QList<std::pair<QByteArray, QByteArray>> &headers);
    Reply finish(Exchange &exchange);
    Reply sendOnce(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                   const QList<std::pair<QByteArray, QByteArray>> &headers);

    Account m_account;
    std::unique_ptr<QNetworkAccessManager> m_network;
    int m_stallTime = 120000; // a server may take a minute and more to list 10,000 cards the first time
};

} // namespace carddav
