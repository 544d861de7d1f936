#include "RealtimeFront.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <memory>
#include <stdexcept>

namespace localcloud {

namespace {

using nlohmann::json;

// A pipe stops reading from one side while this much waits to be written to the other, so a large
// download does not pile up in memory here but waits in the kernel's buffers.
constexpr qint64 pipeChunk = 256 * 1024;
constexpr qint64 pipeBacklog = 1024 * 1024;
constexpr size_t keptEvents = 10000;

QByteArray readFile(const std::filesystem::path &path)
{
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.string());
    return file.readAll();
}

void pump(QSslSocket *from, QSslSocket *to, bool all = false)
{
    while (from->bytesAvailable() > 0 && (all || to->bytesToWrite() < pipeBacklog))
        to->write(from->read(pipeChunk));
}

void answerHttp(QSslSocket *socket, int status, const std::string &body, const std::string &contentType)
{
    const std::string head = "HTTP/1.1 " + std::to_string(status) + " Refused\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(QByteArray::fromStdString(head + body));
    socket->disconnectFromHost();
}

std::string text(const json &message, const char *name)
{
    const auto it = message.find(name);
    return it != message.end() && it->is_string() ? it->get<std::string>() : std::string();
}

json orNull(const json &message, const char *name)
{
    const auto it = message.find(name);
    return it != message.end() ? *it : json(nullptr);
}

} // namespace

RealtimeFront::RealtimeFront(Server &server, int internalPort)
    : server_(server)
    , internalPort_(internalPort)
    , sockets_(QStringLiteral("localcloud"), QWebSocketServer::NonSecureMode)
{
    server_.onRowAdded = [this](const json &row) {
        QMetaObject::invokeMethod(
            &context_, [this, row] { push(row); }, Qt::QueuedConnection);
    };
    server_.describeRealtime = [this] { return describe(); };
    server_.dropRealtime = [this] {
        QMetaObject::invokeMethod(
            &context_, [this] { dropAll(); }, Qt::QueuedConnection);
    };

    QObject::connect(&sockets_, &QWebSocketServer::newConnection, &context_, [this] {
        while (sockets_.hasPendingConnections())
            adopt(sockets_.nextPendingConnection());
    });
    QObject::connect(&tls_, &QSslServer::pendingConnectionAvailable, &context_, [this] {
        while (tls_.hasPendingConnections())
            accept(static_cast<QSslSocket *>(tls_.nextPendingConnection()));
    });
}

RealtimeFront::~RealtimeFront()
{
    server_.onRowAdded = nullptr;
    server_.describeRealtime = nullptr;
    server_.dropRealtime = nullptr;
}

int RealtimeFront::listen(int port)
{
    const CertificateFiles &files = server_.certificates();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromData(readFile(files.serverCert), QSsl::Pem));
    tls.setPrivateKey(QSslKey(readFile(files.serverKey), QSsl::Ec, QSsl::Pem));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (tls.privateKey().isNull() || tls.localCertificate().isNull())
        throw std::runtime_error("the push front could not load the certificate");
    tls_.setSslConfiguration(tls);
    if (!tls_.listen(QHostAddress::LocalHost, static_cast<quint16>(port)))
        throw std::runtime_error(
            "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + tls_.errorString().toStdString());
    return tls_.serverPort();
}

void RealtimeFront::shutDown()
{
    tls_.close();
    sockets_.close();
    dropAll();
    for (QSslSocket *socket : context_.findChildren<QSslSocket *>())
        socket->abort();
    for (QSslSocket *socket : tls_.findChildren<QSslSocket *>())
        socket->abort();
}

void RealtimeFront::accept(QSslSocket *socket)
{
    // Until the first request line has arrived nobody else owns the socket.
    auto waiting = std::make_shared<QList<QMetaObject::Connection>>();
    const auto decide = [this, socket, waiting] {
        if (!socket->canReadLine() && socket->bytesAvailable() < 8192)
            return;
        for (const QMetaObject::Connection &c : *waiting)
            QObject::disconnect(c);
        route(socket);
    };
    waiting->append(QObject::connect(socket, &QIODevice::readyRead, &context_, decide));
    waiting->append(QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater));
    decide();
}

void RealtimeFront::route(QSslSocket *socket)
{
    const QByteArray head = socket->peek(8192);
    const QList<QByteArray> words = head.left(head.indexOf('\n')).trimmed().split(' ');
    if (words.size() == 3 && words[0] == "GET") {
        const std::string target = words[1].toStdString();
        if (target.substr(0, target.find('?')) == path) {
            upgrade(socket, target);
            return;
        }
    }
    pipe(socket);
}

void RealtimeFront::pipe(QSslSocket *outer)
{
    QPointer<QSslSocket> inner = new QSslSocket(&context_);
    QPointer<QSslSocket> client = outer;
    inner->setPeerVerifyMode(QSslSocket::VerifyNone);
    // Small answers must not wait for delayed acknowledgements, on either leg.
    outer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(inner, &QAbstractSocket::connected, inner,
        [inner] { inner->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    inner->setReadBufferSize(pipeBacklog);
    outer->setReadBufferSize(pipeBacklog);
    QObject::connect(inner, &QSslSocket::encrypted, outer, [inner, client] { pump(client, inner); });
    QObject::connect(outer, &QIODevice::readyRead, inner, [inner, client] {
        if (inner->isEncrypted())
            pump(client, inner);
    });
    QObject::connect(inner, &QIODevice::bytesWritten, outer, [inner, client] { pump(client, inner); });
    QObject::connect(inner, &QIODevice::readyRead, outer, [inner, client] { pump(inner, client); });
    QObject::connect(outer, &QIODevice::bytesWritten, inner, [inner, client] { pump(inner, client); });
    // Whatever one side closes, the other follows once the bytes already read are passed on: a
    // dropped or cut-short answer reaches the client exactly as the server sent it.
    QObject::connect(inner, &QAbstractSocket::disconnected, &context_, [inner, client] {
        if (client) {
            pump(inner, client, true);
            client->disconnectFromHost();
        }
        inner->deleteLater();
    });
    QObject::connect(outer, &QAbstractSocket::disconnected, &context_, [inner] {
        if (inner)
            inner->disconnectFromHost();
    });
    QObject::connect(inner, &QAbstractSocket::errorOccurred, &context_, [inner, client] {
        if (inner->state() != QAbstractSocket::UnconnectedState)
            return; // an error on an open pipe is followed by its disconnection
        if (client)
            client->abort();
        inner->deleteLater();
    });
    inner->connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(internalPort_));
}

void RealtimeFront::upgrade(QSslSocket *socket, const std::string &target)
{
    const std::optional<FaultRule> fault = server_.faults().take("GET", target);
    if (!fault) {
        answerUpgrade(socket, target);
        return;
    }
    const bool refused = fault->kind == FaultRule::Kind::Status || fault->kind == FaultRule::Kind::Malformed;
    record({{"direction", "upgrade"}, {"target", target}, {"status", refused ? fault->status : 0},
        {"fault",
            fault->kind == FaultRule::Kind::Delay ? "delay"
                : refused                         ? "status"
                                                  : "drop or silent"}});
    const auto act = [this, socket = QPointer<QSslSocket>(socket), target, rule = *fault] {
        if (!socket)
            return;
        switch (rule.kind) {
        case FaultRule::Kind::Delay:
            answerUpgrade(socket, target);
            break;
        case FaultRule::Kind::Status:
        case FaultRule::Kind::Malformed:
            answerHttp(socket, rule.status, rule.body, rule.contentType);
            break;
        case FaultRule::Kind::Drop:
        case FaultRule::Kind::Truncate:
        case FaultRule::Kind::Endless:
        case FaultRule::Kind::Trickle:
            socket->abort();
            break;
        case FaultRule::Kind::Silent:
            break;
        }
    };
    if (fault->delayMs > 0)
        QTimer::singleShot(fault->delayMs, &context_, act);
    else
        act();
}

void RealtimeFront::answerUpgrade(QSslSocket *socket, const std::string &target)
{
    const QUrlQuery query(
        QString::fromStdString(target.substr(std::min(target.size(), target.find('?') + 1))));
    const std::string key = query.queryItemValue(QStringLiteral("apikey"), QUrl::FullyDecoded).toStdString();
    if (!server_.isApiKey(key)) {
        record({{"direction", "upgrade"}, {"target", target}, {"status", 401}});
        answerHttp(socket, 401, R"({"message":"Invalid API key"})", "application/json");
        return;
    }
    record({{"direction", "upgrade"}, {"target", target}, {"status", 101}});
    socket->setReadBufferSize(0);
    // The web socket made from it owns it from now on; the TLS server must not delete it as well.
    socket->setParent(nullptr);
    sockets_.handleConnection(socket);
}

void RealtimeFront::adopt(QWebSocket *socket)
{
    followers_.append(Follower{socket, {}, {}, {}, {}});
    {
        std::lock_guard lock(mutex_);
        ++open_;
    }
    QObject::connect(socket, &QWebSocket::textMessageReceived, &context_,
        [this, socket](const QString &text) { onMessage(socket, text); });
    QObject::connect(socket, &QWebSocket::disconnected, &context_, [this, socket] {
        forget(socket);
        socket->deleteLater();
    });
}

void RealtimeFront::onMessage(QWebSocket *socket, const QString &frame)
{
    json message = json::parse(frame.toStdString(), nullptr, false);
    if (!message.is_object()) {
        record({{"direction", "in"}, {"raw", frame.toStdString()}});
        return;
    }
    record({{"direction", "in"}, {"topic", orNull(message, "topic")}, {"event", orNull(message, "event")},
        {"payload", orNull(message, "payload")}, {"ref", orNull(message, "ref")},
        {"join_ref", orNull(message, "join_ref")}});
    const std::optional<FaultRule> fault = server_.faults().take(text(message, "event"), path);
    if (!fault) {
        handle(socket, message);
        return;
    }
    const auto act = [this, socket = QPointer<QWebSocket>(socket), message, rule = *fault] {
        if (!socket)
            return;
        switch (rule.kind) {
        case FaultRule::Kind::Delay:
            handle(socket, message);
            break;
        case FaultRule::Kind::Status:
            reply(socket, message, "error", {{"reason", rule.body.empty() ? "refused" : rule.body}});
            break;
        case FaultRule::Kind::Malformed:
            socket->sendTextMessage(QString::fromStdString(rule.body));
            break;
        case FaultRule::Kind::Drop:
        case FaultRule::Kind::Truncate:
        case FaultRule::Kind::Endless:
        case FaultRule::Kind::Trickle:
            socket->abort();
            break;
        case FaultRule::Kind::Silent:
            break;
        }
    };
    if (fault->delayMs > 0)
        QTimer::singleShot(fault->delayMs, &context_, act);
    else
        act();
}

void RealtimeFront::handle(QWebSocket *socket, const json &message)
{
    Follower *f = follower(socket);
    if (!f)
        return;
    const std::string topic = text(message, "topic");
    const std::string event = text(message, "event");
    const bool onJoinedTopic = !f->computerId.empty() && topic == f->topic;
    if (topic == "phoenix" && event == "heartbeat") {
        reply(socket, message, "ok");
    } else if (event == "phx_join") {
        join(*f, message);
    } else if (event == "access_token" && onJoinedTopic) {
        const json payload = orNull(message, "payload");
        const std::optional<std::string> user
            = server_.userForToken(payload.is_object() ? text(payload, "access_token") : std::string());
        if (!user || *user != f->userId) {
            // The service closes a channel whose token it cannot accept; the client must join again.
            f->computerId.clear();
            publishFollowers();
            send(socket,
                {{"topic", topic}, {"event", "phx_close"}, {"payload", {{"reason", "invalid token"}}},
                    {"ref", nullptr}, {"join_ref", f->joinRef}});
        }
    } else if (event == "phx_leave" && onJoinedTopic) {
        f->computerId.clear();
        publishFollowers();
        reply(socket, message, "ok");
    } else {
        reply(socket, message, "error", {{"reason", "unmatched topic"}});
    }
}

void RealtimeFront::join(Follower &follower, const json &message)
{
    QWebSocket *socket = follower.socket;
    const json payload = orNull(message, "payload");
    const json config = payload.is_object() ? orNull(payload, "config") : json();
    const json changes = config.is_object() ? orNull(config, "postgres_changes") : json();
    const std::optional<std::string> user
        = server_.userForToken(payload.is_object() ? text(payload, "access_token") : std::string());
    const auto refuse = [&](const std::string &reason) {
        reply(socket, message, "error", {{"reason", reason}});
    };
    if (!user) {
        refuse("invalid access token");
        return;
    }
    if (!changes.is_array() || changes.size() != 1 || !changes[0].is_object()) {
        refuse("one postgres_changes subscription expected");
        return;
    }
    const json &change = changes[0];
    const std::string filter = text(change, "filter");
    const std::string prefix = "computer_id=eq.";
    const std::string computerId
        = filter.rfind(prefix, 0) == 0 ? filter.substr(prefix.size()) : std::string();
    const std::string kind = text(change, "event");
    if ((kind != "INSERT" && kind != "*") || text(change, "schema") != "public"
        || text(change, "table") != "transfer_items" || computerId.empty()) {
        refuse("only INSERT on public.transfer_items filtered by computer_id=eq.<id> is served");
        return;
    }
    if (!server_.ownsComputer(*user, computerId)) {
        refuse("the computer is not the user's");
        return;
    }
    follower.topic = text(message, "topic");
    follower.computerId = computerId;
    follower.userId = *user;
    follower.joinRef = text(message, "ref");
    publishFollowers();
    reply(socket, message, "ok",
        {{"postgres_changes",
            json::array({{{"id", nextSubscription_++}, {"event", "INSERT"}, {"schema", "public"},
                {"table", "transfer_items"}, {"filter", filter}}})}});
}

void RealtimeFront::send(QWebSocket *socket, const json &message)
{
    json event = message;
    event["direction"] = "out";
    record(std::move(event));
    socket->sendTextMessage(QString::fromStdString(message.dump()));
}

void RealtimeFront::reply(QWebSocket *socket, const json &message, const std::string &status, json response)
{
    send(socket,
        {{"topic", orNull(message, "topic")}, {"event", "phx_reply"},
            {"payload", {{"status", status}, {"response", std::move(response)}}},
            {"ref", orNull(message, "ref")}, {"join_ref", orNull(message, "join_ref")}});
}

void RealtimeFront::push(const json &row)
{
    const std::string computerId = text(row, "computer_id");
    QList<QPointer<QWebSocket>> targets;
    for (const Follower &f : followers_) {
        if (f.socket && !computerId.empty() && f.computerId == computerId)
            targets.append(f.socket);
    }
    for (const QPointer<QWebSocket> &socket : targets) {
        Follower *f = socket ? follower(socket) : nullptr;
        if (!f)
            continue;
        const json message{{"topic", f->topic}, {"event", "postgres_changes"},
            {"payload",
                {{"ids", json::array({1})},
                    {"data",
                        {{"schema", "public"}, {"table", "transfer_items"},
                            {"commit_timestamp", orNull(row, "created_at")}, {"eventType", "INSERT"},
                            {"type", "INSERT"}, {"record", row}, {"errors", nullptr}}}}},
            {"ref", nullptr}, {"join_ref", f->joinRef}};
        const std::optional<FaultRule> fault = server_.faults().take("postgres_changes", path);
        if (!fault) {
            send(socket, message);
            continue;
        }
        switch (fault->kind) {
        case FaultRule::Kind::Drop:
        case FaultRule::Kind::Truncate:
        case FaultRule::Kind::Endless:
        case FaultRule::Kind::Trickle:
            socket->abort();
            break;
        case FaultRule::Kind::Delay:
            QTimer::singleShot(fault->delayMs, &context_, [this, socket, message] {
                if (socket)
                    send(socket, message);
            });
            break;
        case FaultRule::Kind::Status:
        case FaultRule::Kind::Malformed:
        case FaultRule::Kind::Silent:
            record({{"direction", "withheld"}, {"topic", f->topic}, {"event", "postgres_changes"}});
            break;
        }
    }
}

void RealtimeFront::dropAll()
{
    QList<QPointer<QWebSocket>> all;
    for (const Follower &f : followers_)
        all.append(f.socket);
    for (const QPointer<QWebSocket> &socket : all) {
        if (socket)
            socket->abort();
    }
}

RealtimeFront::Follower *RealtimeFront::follower(QWebSocket *socket)
{
    for (Follower &f : followers_) {
        if (f.socket == socket)
            return &f;
    }
    return nullptr;
}

void RealtimeFront::forget(QWebSocket *socket)
{
    const qsizetype before = followers_.size();
    followers_.removeIf([socket](const Follower &f) { return f.socket == socket || !f.socket; });
    {
        std::lock_guard lock(mutex_);
        open_ -= static_cast<int>(before - followers_.size());
    }
    record({{"direction", "closed"}});
    publishFollowers();
}

void RealtimeFront::record(json event)
{
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    if (events_.size() > keptEvents)
        events_.erase(events_.begin());
}

void RealtimeFront::publishFollowers()
{
    json joined = json::array();
    for (const Follower &f : followers_) {
        if (!f.computerId.empty())
            joined.push_back({{"topic", f.topic}, {"computerId", f.computerId}});
    }
    std::lock_guard lock(mutex_);
    joined_ = std::move(joined);
}

json RealtimeFront::describe()
{
    std::lock_guard lock(mutex_);
    return {{"open", open_}, {"joined", joined_}, {"events", events_}};
}

} // namespace localcloud
