// A whole station in this process with no instrument on its port: what
// start-up tells the operator, the settings command on the real main window,
// and publishing to a mosquitto broker on this machine. Runs on Linux and,
// cross-built, under Wine (where the test command starts the broker and
// names its port in LUMO_TEST_BROKER_PORT).

#include "fakeshell.h"
#include "lumoscan13config.h"
#include "mainwindow.h"
#include "mqttclient.h"
#include "settingsfile.h"
#include "sqlitesettingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <mosquitto.h>
#include <openssl/x509_vfy.h>

#include <map>
#include <memory>

#ifndef _WIN32
#include "broker.h"
#endif

namespace {

using lumo::StartupResult;

template <class Condition>
bool waitFor(Condition condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

// A program directory of its own: the station finds lumo.mdb beside the
// program, and its single-copy lock is keyed on the program's path.
struct Program {
    explicit Program(int port, bool withSettings = true)
    {
        if (withSettings) {
            lumo::mklumodb::Options options;
            options.path = QDir(dir.path()).filePath("lumo.mdb").toStdString();
            options.row.com = port;
            EXPECT_TRUE(lumo::mklumodb::writeSettingsFile(options).ok());
        }
        lumo::StationConfig config = lumo::lumoscan13Config();
        config.dataDirectory = dir.filePath("data");  // never the machine's
        station = std::make_unique<lumo::Station>(config, dir.filePath("lumoscan13.exe"), &dialogs);
    }
    lumo::MainWindow& form1() { return station->mainWindow(); }

    QTemporaryDir dir;
    lumo::testing::FakeDialogs dialogs;
    std::unique_ptr<lumo::Station> station;
};

TEST(StationStartup, TheMessageLeadsWithWhatTheOperatorCanMend)
{
    Program noFile(1, false);
    EXPECT_EQ(noFile.station->start(), StartupResult::Stopped);
    ASSERT_EQ(noFile.dialogs.informed.size(), 1u);
    EXPECT_NE(noFile.dialogs.informed[0].find("找不到设置文件"), std::string::npos) << noFile.dialogs.informed[0];

    Program noPort(200);
#ifndef _WIN32
    // COM200 of this directory only: /dev/ttyS199, shared by every test,
    // may be locked for a moment by another one trying it.
    ASSERT_TRUE(QFile::link(noPort.dir.filePath("no-such-device"), noPort.dir.filePath("com200")));
#endif
    EXPECT_EQ(noPort.station->start(), StartupResult::Stopped);
    ASSERT_EQ(noPort.dialogs.informed.size(), 1u);
    const std::string& message = noPort.dialogs.informed[0];
    EXPECT_EQ(message.rfind("Com200 is not available.\r\n串口设备不存在：COM200", 0), 0u) << message;
    EXPECT_FALSE(noPort.station->pollTimer().enabled());
}

// The operator's remedy for a port that is not there: another port,
// confirmed; the program ends and the file holds the change.
TEST(StationCommands, AConfirmedChangeIsStoredAndEndsTheProgram)
{
    Program p(200);
#ifndef _WIN32
    ASSERT_TRUE(QFile::link(p.dir.filePath("no-such-device"), p.dir.filePath("com200")));  // as above
#endif
    ASSERT_EQ(p.station->start(), StartupResult::Stopped);
    QTest::mouseClick(p.form1().changeButton(), Qt::LeftButton);
    p.form1().intervalEntry()->clear();
    QTest::keyClicks(p.form1().intervalEntry(), "300");
    p.form1().portList()->setCurrentText("com4");
    p.dialogs.answers = {true};
    QTest::mouseClick(p.form1().confirmButton(), Qt::LeftButton);
    EXPECT_TRUE(p.station->ended());
    const lumo::StoreOutcome stored = lumo::SqliteSettingsStore(p.dir.path().toStdString()).load();
    EXPECT_EQ(stored.fields.timer, "300");
    EXPECT_EQ(stored.fields.com, "4");
}

// Every payload of every topic under lumoscan/, as a plant's client sees it.
class Subscriber {
public:
    // caFile: over TLS, the broker's certificate checked against it (and
    // against host) by libmosquitto itself.
    explicit Subscriber(int port, const std::string& host = "127.0.0.1", const std::string& caFile = {})
    {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
            static_cast<Subscriber*>(self)->latest[message->topic] =
                std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
        });
        if (!caFile.empty() && mosquitto_tls_set(client_, caFile.c_str(), nullptr, nullptr, nullptr, nullptr) != 0)
            return;
        connected_ = mosquitto_connect(client_, host.c_str(), port, 30) == MOSQ_ERR_SUCCESS &&
                     mosquitto_subscribe(client_, nullptr, "lumoscan/#", 1) == MOSQ_ERR_SUCCESS;
    }
    ~Subscriber() { mosquitto_destroy(client_); }
    bool connected() const { return connected_; }
    // Runs the station's event loop and this client until the topic holds
    // the payload.
    bool waitFor(const std::string& topic, const std::string& payloadPart)
    {
        return ::waitFor(
            [&] {
                mosquitto_loop(client_, 5, 1);
                const auto found = latest.find(topic);
                return found != latest.end() && found->second.find(payloadPart) != std::string::npos;
            },
            10000);
    }

    std::map<std::string, std::string> latest;

private:
    mosquitto* client_ = nullptr;
    bool connected_ = false;
};

TEST(StationPublishing, ABrokerOnThisMachineGetsValuesAndTheStationsState)
{
#ifdef _WIN32
    const int port = qEnvironmentVariableIntValue("LUMO_TEST_BROKER_PORT");
    ASSERT_GT(port, 0) << "the test command names the broker's port in LUMO_TEST_BROKER_PORT";
#else
    lumo::testing::Broker broker;
    ASSERT_TRUE(broker.start());
    const int port = broker.port();
#endif
    Subscriber plant(port);
    ASSERT_TRUE(plant.connected());
    lumo::PublishSettings settings;
    settings.host = "localhost";
    settings.port = port;
    settings.station = "station-test";
    lumo::Publisher publisher(settings.station, [] { return std::int64_t{1765000000000}; });
    std::vector<std::string> states;
    auto client = std::make_unique<lumo::MqttClient>(settings, publisher,
                                                     [&](const std::string& state) { states.push_back(state); });
    client->start();
    EXPECT_TRUE(plant.waitFor("lumoscan/station-test/status", "online"));

    lumo::InstrumentReading reading;
    reading.quantities[0] = lumo::Quantity::ofFloat(12.5f);
    publisher.instrumentAnswered(7, reading, true);
    EXPECT_TRUE(plant.waitFor("lumoscan/station-test/instrument/7", "\"flow\":12.5"));
    EXPECT_TRUE(plant.waitFor("lumoscan/station-test/instrument/7/state", "online"));

    client.reset();  // an orderly end says so
    EXPECT_TRUE(plant.waitFor("lumoscan/station-test/status", "offline"));
}

// Brokers over TLS with the certificates of tests/e2e/test-certificates.sh,
// one certificate made for localhost and 127.0.0.1, one for another name,
// one out of date. Under Wine the test command starts them and names them
// (LUMO_TEST_TLS_PORTS, LUMO_TEST_CERTIFICATES); on Linux they are started
// here.
struct TlsBrokers {
    TlsBrokers()
    {
#ifdef _WIN32
        const QStringList ports = qEnvironmentVariable("LUMO_TEST_TLS_PORTS").split(',');
        if (ports.size() == 3) {
            right = ports[0].toInt();
            otherName = ports[1].toInt();
            expired = ports[2].toInt();
        }
        certificates = "Z:" + qEnvironmentVariable("LUMO_TEST_CERTIFICATES");
#else
        QFile::setPermissions(keys.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                               QFileDevice::ReadOther | QFileDevice::ExeOther);
        if (QProcess::execute("bash", {LUMO_TEST_CERTIFICATES, keys.path()}) != 0)
            return;
        certificates = keys.path();
        const auto start = [&](std::unique_ptr<lumo::testing::Broker>& broker, const char* name) {
            broker = std::make_unique<lumo::testing::Broker>(
                QStringLiteral("allow_anonymous true\ncafile %1/ca.pem\ncertfile %1/%2.pem\nkeyfile %1/%2.key")
                    .arg(keys.path(), name));
            return broker->port();
        };
        right = start(brokers[0], "localhost");
        otherName = start(brokers[1], "otherhost");
        expired = start(brokers[2], "expired");
#endif
    }
    bool ready() const { return right > 0 && otherName > 0 && expired > 0; }
    std::string file(const char* name) const { return (certificates + '/' + name).toStdString(); }

    int right = 0, otherName = 0, expired = 0;
    QString certificates;
#ifndef _WIN32
    QTemporaryDir keys;
    std::unique_ptr<lumo::testing::Broker> brokers[3];
#endif
};

// The station's client over TLS, on both systems: the right CA file connects
// by host name and by an address in the certificate, and a subscriber with
// the same CA file gets what it published; each refusal is told by what is
// wrong, and the client never says it is connected.
TEST(StationPublishing, OverTlsTheRightCaConnectsAndEachRefusalSaysWhy)
{
    const TlsBrokers tls;
    ASSERT_TRUE(tls.ready()) << "the test command names the TLS brokers in LUMO_TEST_TLS_PORTS";
    const struct {
        const char* name;
        const char* host;
        int port;
        const char* ca;
        const char* told;  // connected when empty
    } cases[] = {
        {"by host name", "localhost", tls.right, "ca.pem", ""},
        {"by address", "127.0.0.1", tls.right, "ca.pem", ""},
        {"another authority", "localhost", tls.right, "other-ca.pem", "代理服务器的证书不受 CA 文件"},
        {"another name", "localhost", tls.otherName, "ca.pem", "代理服务器的证书不是为主机名 localhost 签发的"},
        {"another address", "127.0.0.1", tls.otherName, "ca.pem", "代理服务器的证书不是为地址 127.0.0.1 签发的"},
        {"out of date", "localhost", tls.expired, "ca.pem", "代理服务器的证书不在有效期内"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lumo::PublishSettings settings;
        settings.host = c.host;
        settings.port = c.port;
        settings.station = "tls-test";
        settings.caFile = tls.file(c.ca);
        lumo::Publisher publisher(settings.station, [] { return std::int64_t{1765000000000}; });
        std::vector<std::string> states;
        auto client = std::make_unique<lumo::MqttClient>(settings, publisher,
                                                         [&](const std::string& state) { states.push_back(state); });
        client->start();
        lumo::InstrumentReading reading;
        reading.quantities[0] = lumo::Quantity::ofFloat(12.5f);
        publisher.instrumentAnswered(7, reading, true);
        const std::string told = std::string("发布：") + c.told;
        EXPECT_TRUE(waitFor([&] { return client->isConnected() || (*c.told && !states.empty() && states.back().rfind(told, 0) == 0); },
                            10000))
            << (states.empty() ? "(nothing)" : states.back());
        std::printf("[ told     ] %s: %s\n", c.name, states.empty() ? "(nothing)" : states.back().c_str());
        if (*c.told == '\0') {
            ASSERT_TRUE(client->isConnected()) << (states.empty() ? "(nothing)" : states.back());
            EXPECT_EQ(states.back().rfind("发布：已连接", 0), 0u) << states.back();
            Subscriber plant(c.port, c.host, settings.caFile);
            ASSERT_TRUE(plant.connected());
            EXPECT_TRUE(plant.waitFor("lumoscan/tls-test/status", "online"));
            EXPECT_TRUE(plant.waitFor("lumoscan/tls-test/instrument/7", "\"flow\":12.5"));
        } else {
            waitFor([] { return false; }, 300);
            EXPECT_FALSE(client->isConnected());
            for (const std::string& state : states)
                EXPECT_NE(state.rfind("发布：已连接", 0), 0u) << state;
        }
    }
}

// What OpenSSL's check of a broker's certificate found, in the operator's
// words first.
TEST(StationPublishing, ARefusedCertificateIsToldByWhatIsWrongWithIt)
{
    const struct {
        long verifyResult;
        const char* told;
    } cases[] = {
        {X509_V_ERR_HOSTNAME_MISMATCH, "代理服务器的证书不是为主机名 broker.plant 签发的（hostname mismatch）"},
        {X509_V_ERR_IP_ADDRESS_MISMATCH, "代理服务器的证书不是为地址 broker.plant 签发的（IP address mismatch）"},
        {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "代理服务器的证书不受 CA 文件 ca.pem 信任（unable to get local issuer"},
        {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "代理服务器的证书不受 CA 文件 ca.pem 信任（self-signed certificate"},
        {X509_V_ERR_CERT_HAS_EXPIRED, "代理服务器的证书不在有效期内（certificate has expired"},
        {X509_V_OK, "TLS 握手失败（A TLS error occurred.）"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lumo::tlsFailureText(c.verifyResult, "ca.pem", "broker.plant").rfind(c.told, 0), 0u)
            << lumo::tlsFailureText(c.verifyResult, "ca.pem", "broker.plant");
}

}  // namespace
