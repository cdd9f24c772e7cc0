#pragma once

// Work that must not hold up the window, the network's above all, on a thread of its own; what it ends with comes back
// to the window's thread.

#include "davclient.h"
#include "runtime.h"
#include "sqlite.h"

#include <QThread>

#include <functional>
#include <memory>
#include <optional>

class Worker : public QThread
{
    Q_OBJECT
public:
    explicit Worker(std::function<void(Worker &)> work) : m_work(std::move(work)) {}

signals:
    // Emitted on the worker's thread; a receiver in the window hears it on the window's.
    void progress(const QString &step, int done, int total);

protected:
    void run() override { m_work(*this); }

private:
    std::function<void(Worker &)> m_work;
};

// What work done apart ended with: its result, or why it stopped.
template <typename Result> struct Outcome
{
    std::optional<Result> result;
    std::optional<carddav::SyncError> error; // the server's or the network's, said for the user
    QString failure; // anything else: the file's errors, memory
};

// A worker for `work`, to be started; `done` gets what it returned or threw, on `context`'s thread, unless `context`
// is gone by then. The worker deletes itself once it ends.
template <typename Result>
Worker *workApart(QObject *context, std::function<Result(Worker &)> work,
                  std::function<void(const Outcome<Result> &)> done)
{
    auto outcome = std::make_shared<Outcome<Result>>();
    auto *worker = new Worker([outcome, work = std::move(work)](Worker &self) {
        // Nothing may leave a thread's run: what stops the work is handed back instead.
        try {
            outcome->result = work(self);
        } catch (const carddav::SyncError &error) {
            outcome->error = error;
        } catch (const EngineError &error) {
            outcome->failure = engineErrorText(error);
        } catch (const std::exception &error) {
            outcome->failure = QString::fromLocal8Bit(error.what());
        }
    });
    QObject::connect(worker, &QThread::finished, context, [outcome, done = std::move(done)] { done(*outcome); });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    return worker;
}
