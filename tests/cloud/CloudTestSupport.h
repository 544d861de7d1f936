#pragma once

// What the cloud tests share: shorthands for the model's parts, a publishable key, and a way to wait for a
// coroutine from a test.

#include "app/AppModel.h"
#include "core/CompanionError.h"
#include "tests/cloud/WireServer.h"
#include "tests/support/Fakes.h"

#include <QCoro/QCoroTask>

#include <exception>
#include <memory>

struct Cloud {
    static QCoro::Task<> loadOfficial(AppModel &m) { return m.loadOfficialCloudConfiguration(); }
    static QCoro::Task<> prepare(AppModel &m) { return m.prepareConnection(); }
    static void setPairing(AppModel &m, const PairingResponse &pairing)
    {
        m.pairingKeeper().setPairing(pairing);
    }
    static QCoro::Task<CloudSession> ensureSession(AppModel &m)
    {
        return m.sessionKeeper().ensure(m.appliedBackend());
    }
};

// A publishable key of exactly 46 characters, as the real ones are.
inline const QString testKey = QStringLiteral("sb_publishable_0123456789abcdefghijklmnopqrstu");

QString messageOf(const std::exception_ptr &error);
// The kind of a CompanionError, or nothing for any other error.
std::optional<CompanionError::Kind> kindOf(const std::exception_ptr &error);
bool isPlatformError(const std::exception_ptr &error);

template <typename T> struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    QString message() const { return messageOf(error); }
};

// QCoro::waitFor never returns when the task throws, so the exception is caught inside a coroutine.
template <typename T> QCoro::Task<Outcome<T>> capture(QCoro::Task<T> task)
{
    Outcome<T> outcome;
    try {
        outcome.value = co_await std::move(task);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

template <typename T> Outcome<T> settle(QCoro::Task<T> task)
{
    return QCoro::waitFor(capture(std::move(task)));
}

// For tasks without a value: the exception they ended with, if any.
inline std::exception_ptr settleVoid(QCoro::Task<> task)
{
    return settle([](QCoro::Task<> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    }(std::move(task)))
        .error;
}
