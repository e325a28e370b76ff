#include "mqttclient.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QSocketNotifier>

#include <mosquitto.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumo {

namespace {

constexpr int kKeepaliveSeconds = 10;
constexpr int kLongestPauseMs = 30'000;
constexpr int kGoodbyeMs = 1000;
// Messages leave this long after they are queued: by then the poll has
// written its next request (a chained one waits 3.5 characters, under 4 ms
// from 9600 baud up), so the broker's traffic never delays the line.
constexpr int kSendDelayMs = 5;

void initLibrary()
{
    static const bool initialised = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)initialised;
}

std::string reasonOf(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : std::string(mosquitto_strerror(rc));
}

}  // namespace

MqttClient::MqttClient(PublishSettings settings, Publisher& publisher, std::function<void(const std::string&)> onState)
    : settings_(std::move(settings)), publisher_(publisher), onState_(std::move(onState))
{
    initLibrary();
    const std::string clientId = "lumoscan-" + settings_.station;
    mosq_ = mosquitto_new(clientId.c_str(), true, this);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const std::string status = publisher_.statusTopic();
    mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
    if (!settings_.username.empty())
        mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                  settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (settings_.tls())
        unusable_ = tls_.setUp(settings_, mosq_);
    mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);

    keepalive_.setInterval(1000);
    connect(&keepalive_, &QTimer::timeout, this, [this] {
        // A broker that takes the connection and never answers it.
        if (state_ == BrokerState::Connecting && connectingFor_.elapsed() > kKeepaliveSeconds * 1000) {
            failed(MOSQ_ERR_KEEPALIVE);
            return;
        }
        if (const int rc = mosquitto_loop_misc(mosq_); rc != MOSQ_ERR_SUCCESS && state_ != BrokerState::Idle)
            failed(rc == MOSQ_ERR_NO_CONN ? MOSQ_ERR_KEEPALIVE : rc);
        updateWriteInterest();
    });
    pumpTimer_.setSingleShot(true);
    pumpTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pumpTimer_, &QTimer::timeout, this, [this] { pump(); });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { lookUp(); });
    publisher_.setOnOutgoing([this] { schedulePump(); });
}

MqttClient::~MqttClient()
{
    publisher_.setOnOutgoing(nullptr);
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
    dropSocket();
    if (state_ == BrokerState::Connected) {
        // The program ends: say so, and give the broker a moment to take it.
        int mid = 0;
        mosquitto_publish(mosq_, &mid, publisher_.statusTopic().c_str(), 7, "offline", 1, true);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kGoodbyeMs && mosquitto_want_write(mosq_))
            mosquitto_loop(mosq_, 20, 1);
        mosquitto_loop(mosq_, 50, 1);  // the broker's acknowledgement
        mosquitto_disconnect(mosq_);
        mosquitto_loop(mosq_, 20, 1);
    }
    mosquitto_destroy(mosq_);
}

void MqttClient::start()
{
    if (!unusable_.empty()) {
        say("发布：" + unusable_ + "，不发布");
        return;
    }
    keepalive_.start();
    lookUp();
}

std::string MqttClient::broker() const
{
    return settings_.host + ":" + std::to_string(settings_.port) + (settings_.tls() ? " (TLS)" : "");
}

// Every line of a client that sends a password without TLS says so first,
// where the narrow field shows it: the password crosses the network as it is.
void MqttClient::say(const std::string& state)
{
    if (!onState_)
        return;
    if (settings_.tls() || settings_.password.empty()) {
        onState_(state);
        return;
    }
    const std::string lead = "发布：";
    const std::string rest = state.rfind(lead, 0) == 0 ? state.substr(lead.size()) : state;
    onState_(lead + "注意，密码未加密，明文发送给代理服务器；" + rest +
             "（no CA file: the password goes to the broker unencrypted）");
}

// The name is looked up off this thread; a name that does not resolve never
// reaches libmosquitto, whose own lookup would block.
void MqttClient::lookUp()
{
    say("发布：正在连接 " + broker());
    lookupId_ = QHostInfo::lookupHost(QString::fromStdString(settings_.host), this,
                                      [this](const QHostInfo& info) { lookedUp(info); });
}

void MqttClient::lookedUp(const QHostInfo& info)
{
    lookupId_ = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        retryLater("找不到代理服务器的主机名 " + settings_.host + "（" + info.errorString().toStdString() + "）");
        return;
    }
    // With TLS the certificate is checked against the name, so libmosquitto
    // gets the name (answered from the lookup just made); else the address.
    connectTo(settings_.tls() ? settings_.host : info.addresses().constFirst().toString().toStdString());
}

void MqttClient::connectTo(const std::string& address)
{
    // On this machine the connection, and with TLS the handshake, may be
    // made, or fail, before this returns.
    tls_.attemptStarts();
    const int rc = mosquitto_connect_async(mosq_, address.c_str(), settings_.port, kKeepaliveSeconds);
    state_ = BrokerState::Connecting;
    if (rc != MOSQ_ERR_SUCCESS) {
        failed(rc);
        return;
    }
    connectingFor_.start();
    watchSocket();
}

void MqttClient::onConnect(mosquitto*, void* self, int rc) { static_cast<MqttClient*>(self)->connectAnswered(rc); }

void MqttClient::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0 && client->state_ != BrokerState::Idle)
        client->failed(rc);
}

void MqttClient::connectAnswered(int rc)
{
    state_ = BrokerState::Idle;
    if (rc != 0) {
        lost("代理服务器拒绝了连接（" + std::string(mosquitto_connack_string(rc)) + "）");
        return;
    }
    // With TLS asked for, a connection that did not go through this client's
    // check of the certificate is not used, whatever libmosquitto did.
    if (settings_.tls() && !tls_.passed(mosq_)) {
        lost("连接没有经过证书检查，不用（the connection was not made through the TLS check of " + broker() + "）");
        return;
    }
    state_ = BrokerState::Connected;
    pauseMs_ = 1000;
    say("发布：已连接 " + broker() + "，站名 " + settings_.station);
    publisher_.connected();
    schedulePump();
}

void MqttClient::lost(const std::string& why)
{
    state_ = BrokerState::Idle;
    dropSocket();
    mosquitto_disconnect(mosq_);
    retryLater(why);
}

void MqttClient::retryLater(const std::string& why)
{
    say("发布：" + why + "，" + std::to_string(pauseMs_ / 1000) + " 秒后重试");
    retry_.start(pauseMs_);
    pauseMs_ = std::min(pauseMs_ * 2, kLongestPauseMs);
}

void MqttClient::watchSocket()
{
    dropSocket();
    const int fd = mosquitto_socket(mosq_);
    if (fd < 0)
        return;
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { readable(); });
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { writable(); });
    updateWriteInterest();
}

// Notifiers go later: this may run inside one of their own signals.
void MqttClient::dropSocket()
{
    for (QSocketNotifier** notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
}

void MqttClient::readable()
{
    const int rc = mosquitto_loop_read(mosq_, 1);
    if (rc != MOSQ_ERR_SUCCESS && state_ != BrokerState::Idle) {
        failed(rc);
        return;
    }
    pump();
}

void MqttClient::writable()
{
    const int rc = mosquitto_loop_write(mosq_, 1);
    if (rc != MOSQ_ERR_SUCCESS && state_ != BrokerState::Idle) {
        failed(rc);
        return;
    }
    pump();
}

// Said in the operator's words, then libmosquitto's or the system's: a
// connection that was made and is lost, or one that never came about and
// why.
void MqttClient::failed(int rc)
{
    const int error = errno;
    std::string why;
    // libmosquitto's own keepalive may end the wait before this client's.
    if (rc == MOSQ_ERR_KEEPALIVE)
        why = "代理服务器 " + broker() + " 在 " + std::to_string(kKeepaliveSeconds) + " 秒内没有应答（" +
              (state_ == BrokerState::Connected ? "no answer to the keepalive" : "no CONNACK within the keepalive") + "）";
    else if (state_ == BrokerState::Connected)
        why = "与代理服务器 " + broker() + " 的连接断开（" + reasonOf(rc) + "）";
    else if (rc == MOSQ_ERR_TLS)
        why = tlsFailureText(tls_.verdict().value_or(X509_V_OK), settings_.caFile, settings_.host);
    // libmosquitto says so itself, or passes the system's code (on Windows
    // Winsock's, WSAECONNREFUSED).
    else if (rc == MOSQ_ERR_CONN_REFUSED || (rc == MOSQ_ERR_ERRNO && (error == ECONNREFUSED || error == 10061)))
        why = "代理服务器 " + broker() + " 的端口没有接受连接（" + reasonOf(rc) + "）";
    else
        why = "连不上代理服务器 " + broker() + "（" + reasonOf(rc) + "）";
    lost(why);
}

void MqttClient::schedulePump()
{
    if (pumpQueued_)
        return;
    pumpQueued_ = true;
    pumpTimer_.start(kSendDelayMs);
}

// Hands waiting messages to libmosquitto while the socket takes them; once
// it is full the rest wait in the Publisher's queue, where newer values of
// the same topic replace older ones.
void MqttClient::pump()
{
    pumpQueued_ = false;
    while (state_ == BrokerState::Connected && publisher_.hasOutgoing() && !mosquitto_want_write(mosq_)) {
        const MqttMessage message = publisher_.takeOutgoing();
        const int rc = mosquitto_publish(mosq_, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                         message.payload.data(), message.qos, message.retain);
        if (rc != MOSQ_ERR_SUCCESS) {
            lost("发送失败（" + reasonOf(rc) + "）");
            return;
        }
    }
    updateWriteInterest();
}

void MqttClient::updateWriteInterest()
{
    if (writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(mosq_));
}

}  // namespace lumo
