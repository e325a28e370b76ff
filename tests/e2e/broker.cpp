#include "broker.h"

#include "programdir.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

namespace lumo::testing {

namespace {

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool accepting(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return socket.waitForConnected(100);
}

}  // namespace

Broker::Broker(const QString& extraConfig) : extraConfig_(extraConfig) { start(); }

bool Broker::start()
{
    if (port_ == 0)
        port_ = freePort();
    QFile config(file("mosquitto.conf"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    config.write(QStringLiteral("listener %1 127.0.0.1\n%2\n")
                     .arg(port_)
                     .arg(extraConfig_.isEmpty() ? QStringLiteral("allow_anonymous true") : extraConfig_)
                     .toUtf8());
    config.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("mosquitto"), {"-c", file("mosquitto.conf")});
    return process_.waitForStarted(5000) && waitFor([this] { return accepting(port_); }, 5000);
}

void Broker::kill()
{
    process_.kill();
    process_.waitForFinished(5000);
}

void Broker::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000))
        kill();
}

Subscriber::Subscriber(int port, const QString& topic, const Reach& reach)
{
    QStringList arguments = {"-h", reach.host, "-p", QString::number(port), "-v", "-t", topic};
    if (!reach.caFile.isEmpty())
        arguments << "--cafile" << reach.caFile;
    if (!reach.user.isEmpty())
        arguments << "-u" << reach.user << "-P" << reach.password;
    process_.start(QStringLiteral("mosquitto_sub"), arguments);
    process_.waitForStarted(5000);
}

Subscriber::~Subscriber()
{
    process_.kill();
    process_.waitForFinished(5000);
}

void Subscriber::read()
{
    while (process_.canReadLine()) {
        const QByteArray line = process_.readLine().chopped(1);
        const int blank = line.indexOf(' ');
        if (blank < 0)
            continue;
        const QString topic = QString::fromUtf8(line.left(blank));
        latest_[topic] = line.mid(blank + 1);
        all_.append({topic, line.mid(blank + 1)});
    }
}

const QMap<QString, QByteArray>& Subscriber::latest()
{
    read();
    return latest_;
}

QList<QByteArray> Subscriber::history(const QString& topic)
{
    read();
    QList<QByteArray> payloads;
    for (const auto& [t, payload] : all_)
        if (t == topic)
            payloads.append(payload);
    return payloads;
}

}  // namespace lumo::testing
