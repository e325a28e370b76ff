#include "mqttclient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSocketNotifier>

#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

// The broker's certificate is checked in a TLS context of the station's
// own, handed to libmosquitto to use as it is; mosquitto_ssl_get() tells
// whether the connection made really went through it. Both came with 2.0.0
// (the context is kept across reconnections since 1.5.5, taken as given with
// the defaults off since its introduction in 1.5).
static_assert(LIBMOSQUITTO_VERSION_NUMBER >= 2000000, "publishing over TLS needs libmosquitto 2.0.0 or later");

namespace lumo {

namespace {

constexpr int kOldestLibmosquitto = 2000000;

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

// A CA file mosquitto can use holds at least one PEM certificate.
bool holdsCertificate(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains("-----BEGIN CERTIFICATE-----");
}

// OpenSSL's newest queued error, for a step of the TLS set-up that failed.
std::string opensslError()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return "no reason given";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool isAddress(const std::string& host) { return !QHostAddress(QString::fromStdString(host)).isNull(); }

}  // namespace

std::string tlsFailureText(long result, const std::string& caFile, const std::string& host)
{
    const std::string detail = result == X509_V_OK ? std::string("A TLS error occurred.")
                                                   : std::string(X509_verify_cert_error_string(result));
    switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return "代理服务器的证书不是为主机名 " + host + " 签发的（" + detail + "）";
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "代理服务器的证书不是为地址 " + host + " 签发的（" + detail + "）";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "代理服务器的证书不受 CA 文件 " + caFile + " 信任（" + detail + "）";
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "代理服务器的证书不在有效期内（" + detail + "）";
    default:
        return "TLS 握手失败（" + detail + "）";
    }
}

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
        unusable_ = setUpTls();
    mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);

    keepalive_.setInterval(1000);
    connect(&keepalive_, &QTimer::timeout, this, [this] {
        // A broker that takes the connection and never answers it.
        if (connecting_ && connectingFor_.elapsed() > kKeepaliveSeconds * 1000) {
            failed(MOSQ_ERR_KEEPALIVE);
            return;
        }
        if (const int rc = mosquitto_loop_misc(mosq_); rc != MOSQ_ERR_SUCCESS && (connected_ || connecting_))
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
    if (connected_) {
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
    SSL_CTX_free(tls_);
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
    certificateCheck_.reset();
    const int rc = mosquitto_connect_async(mosq_, address.c_str(), settings_.port, kKeepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        connecting_ = true;
        failed(rc);
        return;
    }
    connecting_ = true;
    connectingFor_.start();
    watchSocket();
}

// Why TLS cannot work with these settings, or nothing. The context trusts
// the CA file alone, asks for the broker's certificate and checks it against
// the broker's host name (or address) as OpenSSL does; libmosquitto uses it
// as it is and adds nothing. libmosquitto frees the TLS state, and OpenSSL's
// verdict with it, as soon as a handshake fails, sometimes before it tells
// this client, so the verdict is kept here as the check makes it.
std::string MqttClient::setUpTls()
{
    const QString caFile = QString::fromStdString(settings_.caFile);
    if (!QFileInfo(caFile).isReadable())
        return "CA 文件 " + settings_.caFile + " 不存在或不能读取";
    if (!holdsCertificate(caFile))
        return "CA 文件 " + settings_.caFile + " 里没有证书（no PEM certificate）";
    int major = 0, minor = 0, revision = 0;
    mosquitto_lib_version(&major, &minor, &revision);
    if (major * 1000000 + minor * 1000 + revision < kOldestLibmosquitto)
        return "TLS 需要 libmosquitto 2.0.0 或更新的版本（this is " + std::to_string(major) + "." +
               std::to_string(minor) + "." + std::to_string(revision) + "）";
    tls_ = SSL_CTX_new(TLS_client_method());
    if (!tls_)
        return "TLS 不能用（" + opensslError() + "）";
    SSL_CTX_set_min_proto_version(tls_, TLS1_2_VERSION);
    SSL_CTX_set_options(tls_, SSL_OP_NO_COMPRESSION);
    if (SSL_CTX_load_verify_locations(tls_, settings_.caFile.c_str(), nullptr) != 1)
        return "CA 文件 " + settings_.caFile + " 不能用（" + opensslError() + "）";
    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(tls_);
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const bool named = isAddress(settings_.host) ? X509_VERIFY_PARAM_set1_ip_asc(check, settings_.host.c_str()) == 1
                                                 : X509_VERIFY_PARAM_set1_host(check, settings_.host.c_str(), 0) == 1;
    if (!named)
        return "TLS 不能用：代理服务器的名字 " + settings_.host + " 不能用来检查证书（" + opensslError() + "）";
    SSL_CTX_set_verify(tls_, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(tls_, &MqttClient::checkCertificate, this);
    if (const int rc = mosquitto_int_option(mosq_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0); rc != MOSQ_ERR_SUCCESS)
        return "TLS 不能用（libmosquitto: " + reasonOf(rc) + "）";
    if (const int rc = mosquitto_void_option(mosq_, MOSQ_OPT_SSL_CTX, tls_); rc != MOSQ_ERR_SUCCESS)
        return "TLS 不能用（libmosquitto: " + reasonOf(rc) + "）";
    return {};
}

int MqttClient::checkCertificate(X509_STORE_CTX* check, void* self)
{
    const int ok = X509_verify_cert(check);
    const long verdict = X509_STORE_CTX_get_error(check);
    // An error without a reason still refuses, as OpenSSL's own call would.
    static_cast<MqttClient*>(self)->certificateCheck_ =
        ok > 0 ? X509_V_OK : (verdict == X509_V_OK ? X509_V_ERR_UNSPECIFIED : verdict);
    return ok > 0 ? 1 : 0;
}

void MqttClient::onConnect(mosquitto*, void* self, int rc) { static_cast<MqttClient*>(self)->connectAnswered(rc); }

void MqttClient::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0 && (client->connected_ || client->connecting_))
        client->failed(rc);
}

void MqttClient::connectAnswered(int rc)
{
    connecting_ = false;
    if (rc != 0) {
        lost("代理服务器拒绝了连接（" + std::string(mosquitto_connack_string(rc)) + "）");
        return;
    }
    // With TLS asked for, a connection that did not go through this client's
    // check of the certificate is not used, whatever libmosquitto did.
    if (settings_.tls() && (mosquitto_ssl_get(mosq_) == nullptr || certificateCheck_ != X509_V_OK)) {
        lost("连接没有经过证书检查，不用（the connection was not made through the TLS check of " + broker() + "）");
        return;
    }
    connected_ = true;
    pauseMs_ = 1000;
    say("发布：已连接 " + broker() + "，站名 " + settings_.station);
    publisher_.connected();
    schedulePump();
}

void MqttClient::lost(const std::string& why)
{
    connected_ = false;
    connecting_ = false;
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
    if (rc != MOSQ_ERR_SUCCESS && (connected_ || connecting_)) {
        failed(rc);
        return;
    }
    pump();
}

void MqttClient::writable()
{
    const int rc = mosquitto_loop_write(mosq_, 1);
    if (rc != MOSQ_ERR_SUCCESS && (connected_ || connecting_)) {
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
              (connected_ ? "no answer to the keepalive" : "no CONNACK within the keepalive") + "）";
    else if (connected_)
        why = "与代理服务器 " + broker() + " 的连接断开（" + reasonOf(rc) + "）";
    else if (rc == MOSQ_ERR_TLS)
        why = tlsFailureText(certificateCheck_.value_or(X509_V_OK), settings_.caFile, settings_.host);
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
    while (connected_ && publisher_.hasOutgoing() && !mosquitto_want_write(mosq_)) {
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
