#include "keyring.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>

namespace keyring {

namespace {

const QString Service = QStringLiteral("Brisolta");

QString key(const QString &server, const QString &user)
{
    return user + u'@' + server;
}

// Runs a keychain job to its end; true when it succeeded.
bool finish(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    // Never a plain file in place of a keyring.
    job.setInsecureFallback(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error() == QKeychain::NoError;
}

} // namespace

std::optional<QString> password(const QString &server, const QString &user)
{
    QKeychain::ReadPasswordJob job(Service);
    job.setKey(key(server, user));
    if (!finish(job))
        return std::nullopt;
    return job.textData();
}

bool store(const QString &server, const QString &user, const QString &password)
{
    QKeychain::WritePasswordJob job(Service);
    job.setKey(key(server, user));
    job.setTextData(password);
    return finish(job);
}

void forget(const QString &server, const QString &user)
{
    QKeychain::DeletePasswordJob job(Service);
    job.setKey(key(server, user));
    finish(job);
}

} // namespace keyring
