// Publishing to a real mosquitto broker: what a subscriber receives equals
// what the cells show; silent instruments go offline and come back; the
// broker away and back; the station killed (its will); two stations on one
// broker; settings that cannot work. Polling goes on throughout.

#include "broker.h"
#include "linelog.h"
#include "mainwindow.h"
#include "numbertext.h"
#include "stationrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <optional>

namespace {

using namespace lumo::testing;

const char* const kKeys[] = {"flow", "velocity", "percent", "resistance", "forward_total", "reverse_total",
                             "pipe_diameter"};

// Instruments 1..count with values of their own; `fault` on instrument 3.
std::string scenario(const char* protocol, int count, const std::string& fault = {})
{
    std::string s = std::string("protocol ") + protocol + "\n";
    for (int n = 1; n <= count; ++n) {
        s += "instrument " + std::to_string(n) + " flow=" + std::to_string(n) + ".25 velocity=0.3333333 percent=" +
             std::to_string(10 * n) + " resistance=3.3 forward=" + std::to_string(1000 * n) +
             ".5678 reverse=0.25 diameter=100 alarms=" + (n == 2 ? "empty,upper" : "none") +
             (n == 3 ? " " + fault : "") + "\n";
    }
    return s;
}

bool writePublishingSettings(ProgramDir& dir, const std::string& count, const std::string& interval, int port,
                             const char* station, const QStringList& more = {})
{
    QFile::remove(dir.file("lumo.mdb"));
    QStringList args = {"--publish", "127.0.0.1:" + QString::number(port), station};
    args << more << dir.file("lumo.mdb") << "1" << QString::fromStdString(interval) << QString::fromStdString(count)
         << "9600";
    return QProcess::execute(QStringLiteral(LUMO_MKLUMODB), args) == 0;
}

// The instrument's message holds, as numbers, what its cells show: a float
// reads back to the cell's text, a total to its four decimals.
bool messageMatchesCells(StationRun& run, int n, const QByteArray& payload)
{
    const QJsonObject json = QJsonDocument::fromJson(payload).object();
    if (json.value("instrument").toInt() != n)
        return false;
    for (int slot = 0; slot < 7; ++slot) {
        const QJsonValue value = json.value(kKeys[slot]);
        const std::string cell = run.cell(n, slot);
        if (!value.isDouble() || cell.empty())
            return false;
        const bool total = slot == lumo::kSlotForwardTotal || slot == lumo::kSlotReverseTotal;
        if (total ? std::abs(value.toDouble() - std::stod(cell)) > 5e-5
                  : lumo::numberText(static_cast<float>(value.toDouble())) != cell)
            return false;
    }
    return json.value("alarm_text").toString().toStdString() == run.cell(n, 7);
}

TEST(Publishing, SubscriberSeesWhatTheCellsShowThroughSilenceAndABrokerRestart)
{
    Broker broker;
    ProgramDir dir;
    ASSERT_TRUE(writePublishingSettings(dir, "4", "100", broker.port(), "line13"));
    Simulator sim(dir, scenario("modbus", 4, "fault=silent every=2"));
    ASSERT_TRUE(sim.started());
    StationRun run(dir, Protocol::Modbus);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);
    Subscriber subscriber(broker.port());
    const QString topic = "lumoscan/line13/instrument/%1";

    const auto healthyShown = [&](Subscriber& s) {
        for (int n : {1, 2, 4}) {
            const QByteArray payload = s.latest().value(topic.arg(n));
            if (payload.isEmpty() || !messageMatchesCells(run, n, payload))
                return false;
        }
        return s.latest().value("lumoscan/line13/status") == "online";
    };
    EXPECT_TRUE(waitFor([&] { return healthyShown(subscriber); }, 10000));
    const QJsonObject two = QJsonDocument::fromJson(subscriber.latest().value(topic.arg(2))).object();
    EXPECT_EQ(two.value("alarms").toArray(), QJsonArray({"empty_pipe", "upper_limit"}));
    EXPECT_EQ(two.value("time").toString().size(), 24);
    // Instrument 3 misses every other request: blanked and back, again and again.
    EXPECT_TRUE(waitFor(
        [&] {
            const auto states = subscriber.history(topic.arg(3) + "/state");
            return states.count("offline") >= 1 && states.count("online") >= 2;
        },
        10000));
    EXPECT_EQ(run.station->mainWindow().publishField()->text().toStdString().rfind("发布：已连接", 0), 0u);

    // The broker goes away: the station polls on as it would without it.
    broker.kill();
    const std::size_t before = readLineLog(sim).requested.size();
    waitFor([] { return false; }, 2000);
    EXPECT_GE(readLineLog(sim).requested.size(), before + 20) << "polling stalled without the broker";
    EXPECT_TRUE(waitFor([&] { return run.station->mainWindow().publishField()->text().contains("重试"); }, 3000));
    // Back, empty: the station reconnects and the retained picture is whole again.
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(waitFor([&] { return run.station->mainWindow().publishField()->text().contains("已连接"); }, 8000));
    Subscriber later(broker.port());
    EXPECT_TRUE(waitFor([&] { return healthyShown(later) && later.latest().contains(topic.arg(3) + "/state"); }, 5000));
}

struct Program {
    Program(ProgramDir& dir, const char* built) : path(dir.addProgram(built))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(path, {});
        process.waitForStarted(5000);
    }
    ~Program()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    QString path;
    QProcess process;
};

// Two stations, one of each program, on one broker: a subscriber sees both
// under their names. Killed, a station's will says it is offline; ended in
// order, it says so itself.
TEST(Publishing, TwoStationsOneBrokerAndTheWillOfAKilledOne)
{
    Broker broker;
    ProgramDir dir12, dir13;
    ASSERT_TRUE(writePublishingSettings(dir12, "2", "50", broker.port(), "line12"));
    ASSERT_TRUE(writePublishingSettings(dir13, "4", "100", broker.port(), "line13"));
    Simulator sim12(dir12, scenario("block", 2));
    Simulator sim13(dir13, scenario("modbus", 4));
    Subscriber subscriber(broker.port());
    Program station12(dir12, LUMOSCAN12_PATH), station13(dir13, LUMOSCAN13_PATH);
    const auto has = [&](const char* topic, const char* key, double value) {
        const QJsonObject json = QJsonDocument::fromJson(subscriber.latest().value(topic)).object();
        return json.value(key).isDouble() && std::abs(json.value(key).toDouble() - value) < 1e-6;
    };
    EXPECT_TRUE(waitFor(
        [&] {
            return has("lumoscan/line12/instrument/1", "flow", 1.25) && has("lumoscan/line12/instrument/2", "percent", 20) &&
                   has("lumoscan/line13/instrument/4", "forward_total", 4000.5678) &&
                   has("lumoscan/line13/instrument/1", "velocity", 0.3333333);
        },
        15000)) << [&] {
        std::string seen;
        for (auto it = subscriber.latest().begin(); it != subscriber.latest().end(); ++it)
            seen += it.key().toStdString() + " " + it.value().toStdString() + "\n";
        return seen;
    }();
    EXPECT_EQ(subscriber.latest().value("lumoscan/line12/status"), "online");

    ::kill(static_cast<pid_t>(station12.process.processId()), SIGKILL);
    EXPECT_TRUE(waitFor([&] { return subscriber.latest().value("lumoscan/line12/status") == "offline"; }, 5000));
    station13.process.terminate();
    EXPECT_TRUE(station13.process.waitForFinished(5000));
    EXPECT_TRUE(waitFor([&] { return subscriber.latest().value("lumoscan/line13/status") == "offline"; }, 3000));
}

// A file of the test's own, readable by anyone (a broker that dropped root
// reads it too).
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    return file.fileName();
}

QTemporaryDir& openToAll(QTemporaryDir& dir)
{
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ReadOther | QFileDevice::ExeOther);
    return dir;
}

// How publishing goes is told below the editor box, each reason a broker
// cannot be used in words of its own, and the station polls as it would
// without it. Over TLS the right CA file connects, by host name and by an
// address in the certificate, and a subscriber with the same CA file gets
// the station's picture; an untrusted authority, a certificate for another
// name or address, an expired one, a missing CA file and one without a
// certificate are refused, and a refused station never says it is connected.
// A password without TLS is told to go unencrypted. The broker's account may
// publish under lumoscan/<station>/# only, as README advises.
TEST(Publishing, EachSettingIsToldConnectedOrWhyNotAndPollingGoesOn)
{
    QTemporaryDir keys;
    openToAll(keys);
    ASSERT_EQ(QProcess::execute("bash", {LUMO_TEST_CERTIFICATES, keys.path()}), 0);
    const auto tlsBroker = [&](const char* certificate) {
        return QStringLiteral("allow_anonymous true\ncafile %1/ca.pem\ncertfile %1/%2.pem\nkeyfile %1/%2.key")
            .arg(keys.path(), certificate);
    };
    Broker right(tlsBroker("localhost")), otherName(tlsBroker("otherhost")), expired(tlsBroker("expired"));
    const auto at = [](const char* host, const Broker& broker) { return host + (":" + QString::number(broker.port())); };
    // Takes the connection and says nothing.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> held;
    QObject::connect(&mute, &QTcpServer::newConnection, [&] { held << mute.nextPendingConnection(); });

    // The station's account may only publish under its own topics; a
    // watcher may read them.
    QTemporaryDir secrets;
    openToAll(secrets);
    const QString passwords = secrets.filePath("passwords");
    ASSERT_EQ(QProcess::execute("mosquitto_passwd", {"-c", "-b", passwords, "line", "Pa55-right"}), 0);
    ASSERT_EQ(QProcess::execute("mosquitto_passwd", {"-b", passwords, "watcher", "seen"}), 0);
    QFile::setPermissions(passwords, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    const QString acl = writeFile(secrets, "acl", "user line\ntopic write lumoscan/line/#\n\nuser watcher\ntopic read lumoscan/#\n");
    Broker withPasswords("allow_anonymous false\npassword_file " + passwords + "\nacl_file " + acl);
    const QString rightPassword = writeFile(secrets, "right", "Pa55-right\n");
    const QString wrongPassword = writeFile(secrets, "wrong", "Pa55-wrong\n");
    const int closedPort = Broker().port();  // started and stopped again at once
    const QString plainPasswords = "127.0.0.1:" + QString::number(withPasswords.port());
    const struct {
        const char* name;
        QStringList publish;  // the --publish arguments
        const char* told;
        std::optional<Reach> subscriber{};  // given: the station connects, and this subscriber gets its picture
        int withinMs = 6000;
    } cases[] = {
        {"name that does not resolve", {"--publish", "no-such-broker.invalid:1883", "line"}, "找不到代理服务器"},
        {"nobody listening", {"--publish", "127.0.0.1:" + QString::number(closedPort), "line"}, "端口没有接受连接"},
        {"wrong password",
         {"--publish", plainPasswords, "line", "--publish-user", "line", "--publish-password-file", wrongPassword},
         "拒绝了连接"},
        {"password without TLS",
         {"--publish", plainPasswords, "line", "--publish-user", "line", "--publish-password-file", rightPassword},
         "发布：注意，密码未加密，明文发送给代理服务器；已连接 127.0.0.1:", Reach{"127.0.0.1", {}, "watcher", "seen"}},
        {"CA file missing", {"--publish", at("localhost", right), "line", "--publish-ca", "/nonexistent/ca.pem"},
         "CA 文件 /nonexistent/ca.pem 不存在或不能读取"},
        {"malformed row", {"--publish", "127.0.0.1:1883", "line/13"}, "发布设置有误，不发布：字段 station"},
        {"certificate of another authority",
         {"--publish", at("localhost", right), "line", "--publish-ca", keys.filePath("other-ca.pem")},
         "的证书不受 CA 文件"},
        {"certificate for another name",
         {"--publish", at("localhost", otherName), "line", "--publish-ca", keys.filePath("ca.pem")},
         "代理服务器的证书不是为主机名 localhost 签发的（hostname mismatch）"},
        {"certificate for another address",
         {"--publish", at("127.0.0.1", otherName), "line", "--publish-ca", keys.filePath("ca.pem")},
         "代理服务器的证书不是为地址 127.0.0.1 签发的（IP address mismatch）"},
        {"certificate out of date", {"--publish", at("localhost", expired), "line", "--publish-ca", keys.filePath("ca.pem")},
         "代理服务器的证书不在有效期内（certificate has expired）"},
        {"CA file without a certificate",
         {"--publish", at("localhost", right), "line", "--publish-ca", keys.filePath("empty.pem")}, "里没有证书"},
        {"right CA file, by host name", {"--publish", at("localhost", right), "line", "--publish-ca", keys.filePath("ca.pem")},
         "发布：已连接 localhost:", Reach{"localhost", keys.filePath("ca.pem"), {}, {}}},
        {"right CA file, by address", {"--publish", at("127.0.0.1", right), "line", "--publish-ca", keys.filePath("ca.pem")},
         "发布：已连接 127.0.0.1:", Reach{"127.0.0.1", keys.filePath("ca.pem"), {}, {}}},
        {"broker that never answers", {"--publish", "127.0.0.1:" + QString::number(mute.serverPort()), "line"},
         "秒内没有应答", std::nullopt, 15000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir dir;
        QStringList args = c.publish;
        args << dir.file("lumo.mdb") << "1" << "100" << "4" << "9600";
        ASSERT_EQ(QProcess::execute(QStringLiteral(LUMO_MKLUMODB), args), 0);
        Simulator sim(dir, scenario("modbus", 4));
        QStringList shown;  // every line the station showed, outliving it
        StationRun run(dir, Protocol::Modbus);
        QLineEdit* told = run.station->mainWindow().publishField();
        QObject::connect(told, &QLineEdit::textChanged, [&](const QString& text) { shown << text; });
        ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);
        EXPECT_TRUE(waitFor([&] { return told->text().contains(QString::fromUtf8(c.told)); }, c.withinMs))
            << c.name << ": " << told->text().toStdString();
        std::printf("[ told     ] %s: %s\n", c.name, told->text().toUtf8().constData());
        EXPECT_TRUE(told->isVisibleTo(&run.station->mainWindow()));
        for (const QString& text : shown)
            EXPECT_FALSE(text.contains("Pa55")) << "the password is never shown: " << text.toStdString();
        EXPECT_TRUE(waitFor([&] { return run.cell(4, 0) == "4.25"; }, 5000))
            << "polling must go on: " << run.cell(4, 0) << "\n" << run.lineReport(4);
        EXPECT_TRUE(run.dialogs.informed.empty());
        if (c.subscriber) {
            EXPECT_TRUE(told->text().contains("已连接")) << told->text().toStdString();
            // A subscriber that comes later gets the whole picture, retained.
            Subscriber later(c.publish[1].section(':', -1).toInt(), "lumoscan/#", *c.subscriber);
            EXPECT_TRUE(waitFor(
                [&] {
                    for (int n = 1; n <= 4; ++n)
                        if (!messageMatchesCells(run, n, later.latest().value(QString("lumoscan/line/instrument/%1").arg(n))))
                            return false;
                    return later.latest().value("lumoscan/line/status") == "online";
                },
                8000))
                << later.errors().toStdString();
        } else {
            waitFor([] { return false; }, 300);  // a connection that would come after the refusal
            for (const QString& text : shown)
                EXPECT_FALSE(text.contains("已连接")) << "a refused station said: " << text.toStdString();
        }
    }
}

}  // namespace
