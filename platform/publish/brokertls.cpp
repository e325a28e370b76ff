#include "brokertls.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

// mosquitto_ssl_get(), which tells whether a connection went through the
// station's context, came with 2.0.0; the context is kept across
// reconnections since 1.5.5 and taken as given, with the defaults off,
// since its introduction in 1.5.
static_assert(LIBMOSQUITTO_VERSION_NUMBER >= 2000000, "publishing over TLS needs libmosquitto 2.0.0 or later");

namespace lumo {

namespace {

constexpr int kOldestLibmosquitto = 2000000;

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

BrokerTls::~BrokerTls() { SSL_CTX_free(context_); }

bool BrokerTls::passed(mosquitto* client) const
{
    return mosquitto_ssl_get(client) != nullptr && verdict_ == X509_V_OK;
}

// Why TLS cannot work with these settings, or nothing. The context trusts
// the CA file alone, asks for the broker's certificate and checks it against
// the broker's host name (or address) as OpenSSL does; libmosquitto uses it
// as it is and adds nothing. libmosquitto frees the TLS state, and OpenSSL's
// verdict with it, as soon as a handshake fails, sometimes before it tells
// this client, so the verdict is kept here as the check makes it.
std::string BrokerTls::setUp(const PublishSettings& settings, mosquitto* client)
{
    const QString caFile = QString::fromStdString(settings.caFile);
    if (!QFileInfo(caFile).isReadable())
        return "CA 文件 " + settings.caFile + " 不存在或不能读取";
    if (!holdsCertificate(caFile))
        return "CA 文件 " + settings.caFile + " 里没有证书（no PEM certificate）";
    int major = 0, minor = 0, revision = 0;
    mosquitto_lib_version(&major, &minor, &revision);
    if (major * 1000000 + minor * 1000 + revision < kOldestLibmosquitto)
        return "TLS 需要 libmosquitto 2.0.0 或更新的版本（this is " + std::to_string(major) + "." +
               std::to_string(minor) + "." + std::to_string(revision) + "）";
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_)
        return "TLS 不能用（" + opensslError() + "）";
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_options(context_, SSL_OP_NO_COMPRESSION);
    if (SSL_CTX_load_verify_locations(context_, settings.caFile.c_str(), nullptr) != 1)
        return "CA 文件 " + settings.caFile + " 不能用（" + opensslError() + "）";
    X509_VERIFY_PARAM* broker = SSL_CTX_get0_param(context_);
    X509_VERIFY_PARAM_set_hostflags(broker, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const bool named = isAddress(settings.host) ? X509_VERIFY_PARAM_set1_ip_asc(broker, settings.host.c_str()) == 1
                                                : X509_VERIFY_PARAM_set1_host(broker, settings.host.c_str(), 0) == 1;
    if (!named)
        return "TLS 不能用：代理服务器的名字 " + settings.host + " 不能用来检查证书（" + opensslError() + "）";
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context_, &BrokerTls::check, this);
    if (const int rc = mosquitto_int_option(client, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0); rc != MOSQ_ERR_SUCCESS)
        return "TLS 不能用（libmosquitto: " + reasonOf(rc) + "）";
    if (const int rc = mosquitto_void_option(client, MOSQ_OPT_SSL_CTX, context_); rc != MOSQ_ERR_SUCCESS)
        return "TLS 不能用（libmosquitto: " + reasonOf(rc) + "）";
    return {};
}

int BrokerTls::check(X509_STORE_CTX* check, void* self)
{
    const int ok = X509_verify_cert(check);
    const long verdict = X509_STORE_CTX_get_error(check);
    // An error without a reason still refuses, as OpenSSL's own call would.
    static_cast<BrokerTls*>(self)->verdict_ =
        ok > 0 ? X509_V_OK : (verdict == X509_V_OK ? X509_V_ERR_UNSPECIFIED : verdict);
    return ok > 0 ? 1 : 0;
}

}  // namespace lumo
