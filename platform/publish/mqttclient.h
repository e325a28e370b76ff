#pragma once
// The station's MQTT client: libmosquitto driven from the program's one
// event loop. Its socket is watched with QSocketNotifiers and its keepalive
// runs on a Qt timer; the broker's name is looked up with QHostInfo, which
// does not block this thread. Nothing here waits for the network while the
// station polls: a dead or slow broker only fills the Publisher's bounded
// queue, and the client retries with a growing pause (1 s doubling to 30 s).
// The password is handed to libmosquitto and shown nowhere.

#include "brokertls.h"
#include "publisher.h"
#include "publishsettings.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>

struct mosquitto;
class QHostInfo;
class QSocketNotifier;

namespace lumo {

class MqttClient : public QObject {
public:
    // onState: a line for the operator on how publishing goes.
    MqttClient(PublishSettings settings, Publisher& publisher, std::function<void(const std::string&)> onState);
    // An orderly end: "offline" is sent (waiting at most a second for the
    // broker to take it), then the connection is closed.
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    void start();
    bool isConnected() const { return state_ == BrokerState::Connected; }

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);

    void lookUp();
    void lookedUp(const QHostInfo& info);
    void connectTo(const std::string& address);
    void connectAnswered(int rc);
    void failed(int rc);
    void lost(const std::string& why);
    void retryLater(const std::string& why);
    void watchSocket();
    void dropSocket();
    void readable();
    void writable();
    void pump();
    void schedulePump();
    void updateWriteInterest();
    void say(const std::string& state);
    std::string broker() const;

    PublishSettings settings_;
    Publisher& publisher_;
    std::function<void(const std::string&)> onState_;
    mosquitto* mosq_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer keepalive_;
    QTimer retry_;
    QTimer pumpTimer_;
    int pauseMs_ = 1000;
    int lookupId_ = -1;
    // Idle: no connection, and none under way (looking the name up, or
    // waiting to retry); Connecting: made or being made, not yet answered.
    enum class BrokerState { Idle, Connecting, Connected };
    BrokerState state_ = BrokerState::Idle;
    bool pumpQueued_ = false;
    BrokerTls tls_;  // when TLS is asked for
    std::string unusable_;  // why the settings cannot work (a CA file missing or without a certificate)
    QElapsedTimer connectingFor_;
};

}  // namespace lumo
