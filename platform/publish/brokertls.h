#pragma once
// TLS to the broker as the station does it: a context of the station's own
// that trusts the CA file alone, asks for the broker's certificate and
// checks it against the broker's host name or address as OpenSSL does, and
// keeps OpenSSL's verdict. libmosquitto is handed the context to use as it
// is (MOSQ_OPT_SSL_CTX_WITH_DEFAULTS off), so what is accepted does not
// depend on what a libmosquitto version adds to a caller's context; the
// client uses a connection only when this check passed on it.

#include "publishsettings.h"

#include <optional>
#include <string>

struct mosquitto;
struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace lumo {

// Why a TLS handshake failed, in the operator's words, from the result of
// OpenSSL's check of the broker's certificate (X509_V_ERR_...): not signed
// by the CA file's authority, made for another host name or address, out of
// date, or something else of TLS; OpenSSL's text follows.
std::string tlsFailureText(long verifyResult, const std::string& caFile, const std::string& host);

class BrokerTls {
public:
    BrokerTls() = default;
    ~BrokerTls();
    BrokerTls(const BrokerTls&) = delete;
    BrokerTls& operator=(const BrokerTls&) = delete;

    // Sets the client up for TLS with these settings; why it cannot, or
    // nothing. The CA file must be readable and hold a certificate.
    std::string setUp(const PublishSettings& settings, mosquitto* client);

    // A connection attempt begins: no verdict yet.
    void attemptStarts() { verdict_.reset(); }
    // OpenSSL's verdict on the broker's certificate in this attempt
    // (X509_V_OK: trusted and made for the broker); nothing before the check
    // has run.
    const std::optional<long>& verdict() const { return verdict_; }
    // The connection went through this check and passed it.
    bool passed(mosquitto* client) const;

private:
    static int check(x509_store_ctx_st* check, void* self);

    ssl_ctx_st* context_ = nullptr;
    std::optional<long> verdict_;
};

}  // namespace lumo
