// dorvik-agent on the message bus, the real program against the real mosquitto on loopback with
// simulated readers: the time from a swipe on a reader to the message at a subscriber; 16 doors
// swiping 10 times a second each (every message arrives, the agent's memory stays flat); and
// 10,000 swipes logged while the broker was away, delivered once it is back.
// DORVIK_BENCH_MQTT_SECONDS shortens the 16-door run (default 60 s).

#include "bench/BenchTable.h"
#include "log/AccessLog.h"
#include "log/SqlCall.h"
#include "log/SwipeWriter.h"
#include "sim/SimReader.h"
#include "support/MosquittoBroker.h"
#include "support/MqttProbe.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <set>
#include <signal.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int Doors = 16;
constexpr int LatencySwipes = 300;
constexpr int QueuedSwipes = 10000;
constexpr uint32_t LoadBase = 2000000;

[[noreturn]] void Fail(const std::string& What) { BenchFailed("bench_mqtt", What); }

qint64 NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

sim::CardBytes Card(uint32_t Value) { return {1, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)}; }

double Percentile(std::vector<double> Values, double Share)
{
    std::sort(Values.begin(), Values.end());
    return Values[std::min(Values.size() - 1, size_t(std::ceil(Share * double(Values.size()))) - 1)];
}

double RssMiB(qint64 Pid)
{
    QFile Status(QStringLiteral("/proc/%1/status").arg(Pid));
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmRSS:"))
            return Line.mid(6).trimmed().split(' ').at(0).toDouble() / 1024.0;
    return 0;
}

// The swipe messages that came, by their card value.
std::vector<std::pair<uint32_t, MqttProbe::Message>> Swipes(const MqttProbe& Probe)
{
    std::vector<std::pair<uint32_t, MqttProbe::Message>> Found;
    for (const auto& M : Probe.On())
        if (M.Topic.endsWith(QStringLiteral("/swipe")))
            Found.emplace_back(uint32_t(QJsonDocument::fromJson(M.Payload).object().value("value").toInteger()), M);
    return Found;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    if (MosquittoBroker::Program().isEmpty())
        Fail("mosquitto is not installed");
    const int Seconds = qEnvironmentVariableIsSet("DORVIK_BENCH_MQTT_SECONDS") ? qEnvironmentVariableIntValue("DORVIK_BENCH_MQTT_SECONDS") : 60;
    MosquittoBroker Broker({.Persistent = true});
    if (!Broker.Start())
        Fail("mosquitto did not start");
    MqttProbe Probe(Broker.Port(), QStringLiteral("dorvik/#"), true);
    if (!WaitUntil([&] { return Probe.Subscribed(); }))
        Fail("the subscriber did not subscribe");

    QTemporaryDir Dir;
    std::vector<std::unique_ptr<sim::SimReader>> Readers;
    QByteArray Config = QStringLiteral("[log]\npath = access.db\n[mqtt]\nhost = 127.0.0.1\nport = %1\n").arg(Broker.Port()).toUtf8();
    for (int I = 0; I < Doors; ++I) {
        Readers.push_back(std::make_unique<sim::SimReader>());
        Config += QStringLiteral("[door-%1]\nname = Door %1\nport = %2\n").arg(I).arg(QString::fromStdString(Readers.back()->PortName())).toUtf8();
    }
    QFile File(Dir.filePath("agent.conf"));
    if (!File.open(QIODevice::WriteOnly) || File.write(Config) != Config.size())
        Fail("cannot write the configuration");
    File.close();
    QProcess Agent;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("RUNTIME_DIRECTORY", Dir.filePath("run"));
    Env.insert("STATE_DIRECTORY", Dir.path());
    Agent.setProcessEnvironment(Env);
    Agent.setStandardErrorFile(Dir.filePath("agent.log"));
    Agent.start(DORVIK_AGENT, {"--config", File.fileName()});
    const auto AllReady = [&] {
        for (int I = 0; I < Doors; ++I)
            if (Probe.Last(QStringLiteral("dorvik/door-%1/cards").arg(I)).isEmpty())
                return false;
        return true;
    };
    if (!WaitUntil(AllReady, 30s))
        Fail("the agent's doors did not all come online");

    // Swipe to message, one at a time.
    std::vector<double> Latency;
    for (int I = 0; I < LatencySwipes; ++I) {
        const size_t Before = Probe.Count();
        const qint64 Start = NowUs();
        Readers[size_t(I % Doors)]->Swipe(Card(1000 + uint32_t(I)));
        if (!WaitUntil([&] { return Probe.Count() > Before; }, 5s))
            Fail("a swipe did not arrive");
        Latency.push_back(double(Probe.On().back().AtUs - Start) / 1000.0);
        WaitUntil([] { return false; }, 10ms);
    }
    const double P99 = Percentile(Latency, 0.99);
    PrintFigure("mqtt: swipe to subscriber, median", Fixed(Percentile(Latency, 0.5), 2, "ms"));
    PrintFigure("mqtt: swipe to subscriber, p99", Fixed(P99, 2, "ms"), "< 20 ms", GoalMet(P99 < 20));

    // 16 doors, 10 swipes a second each.
    const double RssStart = RssMiB(Agent.processId());
    uint32_t Sent = 0;
    QTimer Tick;
    QObject::connect(&Tick, &QTimer::timeout, [&] {
        for (auto& R : Readers)
            R->Swipe(Card(LoadBase + Sent++));
    });
    Tick.start(100);
    WaitUntil([] { return false; }, std::chrono::seconds(Seconds));
    Tick.stop();
    const auto LoadArrived = [&] {
        std::set<uint32_t> Values;
        for (const auto& [Value, M] : Swipes(Probe))
            if (Value >= LoadBase)
                Values.insert(Value);
        return Values.size();
    };
    WaitUntil([&] { return LoadArrived() == Sent; }, 30s);
    const size_t Arrived = LoadArrived();
    const double RssEnd = RssMiB(Agent.processId());
    PrintFigure(QStringLiteral("mqtt: %1 doors x 10/s for %2 s, messages lost").arg(Doors).arg(Seconds).toStdString(),
                QStringLiteral("%1 of %2").arg(Sent - Arrived).arg(Sent).toStdString(), "0", GoalMet(Arrived == Sent));
    PrintFigure("mqtt: agent RSS at start / end of that run", Fixed(RssStart, 1, "MiB /") + " " + Fixed(RssEnd, 1, "MiB"));

    // An outage: 10,000 swipes logged meanwhile, then the broker back.
    Broker.Stop();
    WaitUntil([] { return false; }, 1500ms);
    {
        TAccessLog Log(Dir.filePath("access.db"), TAccessLog::TUse::Read);
        const QSqlDatabase Db = Log.Database();
        TTransaction Batch(Db);
        TSwipeWriter Writer(Db);
        for (int I = 0; I < QueuedSwipes; ++I) {
            TSwipeRecord Swipe;
            Swipe.Time = QDateTime::currentDateTimeUtc();
            Swipe.Door = QStringLiteral("Door %1").arg(I % Doors);
            Swipe.Bytes = Card(3000000 + uint32_t(I));
            Writer.Write(Swipe);
        }
        Batch.Commit();
    }
    const size_t Before = Swipes(Probe).size();
    if (!Broker.Start())
        Fail("mosquitto did not start again");
    const qint64 Back = NowUs();
    if (!WaitUntil([&] { return Swipes(Probe).size() >= Before + QueuedSwipes; }, 120s))
        Fail("the queued swipes did not all arrive");
    const qint64 Done = Probe.On().back().AtUs;
    qint64 Reconnected = Back;
    for (const auto& M : Probe.On())
        if (M.Topic == u"dorvik/agent/status" && M.Payload == "online" && M.AtUs >= Back)
            Reconnected = std::max(Reconnected, M.AtUs);
    const double Deliver = double(Done - Reconnected) / 1e6;
    PrintFigure("mqtt: 10,000 queued swipes, agent reconnect to last delivered", Fixed(Deliver, 2, "s"), "< 5 s", GoalMet(Deliver < 5));
    PrintFigure("mqtt: the same from the broker's start (reconnect backoff included)", Fixed(double(Done - Back) / 1e6, 2, "s"));

    ::kill(pid_t(Agent.processId()), SIGTERM);
    Agent.waitForFinished(10000);
    return 0;
}
