#pragma once
// A mosquitto broker of the test's own on a free localhost port, and a
// subscriber (mosquitto_sub) that keeps the newest payload of every topic.
// Certificates for brokers over TLS: tests/e2e/test-certificates.sh.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace lumo::testing {

class Broker {
public:
    // extraConfig: more lines of mosquitto.conf (a password file, say).
    explicit Broker(const QString& extraConfig = {});
    ~Broker() { stop(); }

    bool start();  // on the same port as before, if it ran before
    void kill();   // SIGKILL: what a crashed broker does to its clients
    void stop();
    int port() const { return port_; }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString extraConfig_;
    QProcess process_;
    int port_ = 0;
};

// How a subscriber reaches the broker beyond its port: TLS with a CA file
// (then by host name or address, checked as the station checks it), a login.
struct Reach {
    QString host = QStringLiteral("127.0.0.1");
    QString caFile;
    QString user, password;
};

class Subscriber {
public:
    Subscriber(int port, const QString& topic = QStringLiteral("lumoscan/#"), const Reach& reach = {});
    ~Subscriber();

    // The newest payload of each topic seen so far (retained ones included).
    const QMap<QString, QByteArray>& latest();
    // Every payload of one topic, in order.
    QList<QByteArray> history(const QString& topic);
    // What mosquitto_sub said of itself (why it could not connect).
    QByteArray errors() { return process_.readAllStandardError(); }

private:
    void read();

    QProcess process_;
    QMap<QString, QByteArray> latest_;
    QList<QPair<QString, QByteArray>> all_;
};

}  // namespace lumo::testing
