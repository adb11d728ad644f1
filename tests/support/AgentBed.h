#pragma once

#include "agent/Agent.h"
#include "agent/Door.h"
#include "bus/MqttBridge.h"
#include "log/SwipeRecord.h"
#include "sim/SimReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// dorvik-agent's doors in this process over simulated readers. Each door's port is a link to
// its reader's pseudo-terminal, so a reader can be unplugged and plugged back (a new terminal
// behind the same name).
struct AgentBed
{
    struct Swipe
    {
        QString Door;
        uint32_t Value;
        bool Known;
        QString Name;
        QString Reason;
    };

    QTemporaryDir Dir;
    std::vector<std::unique_ptr<sim::SimReader>> Readers;
    std::vector<Swipe> Swipes;
    std::unique_ptr<TAgent> Agent;
    std::unique_ptr<TMqttBridge> Bus; // when More has an [mqtt] section
    QStringList Said;                 // what the doors and the bus said, "<priority>text"

    QString Path(const QString& Name) const { return Dir.filePath(Name); }
    QString Runtime() const { return Dir.filePath("run"); }

    // Doors door-0, door-1... with Extra appended to every section and More at the end. A door's
    // port is the link to its reader unless PortOf gives another (a server in front of it).
    using PortChoice = std::function<QString(int Door, sim::SimReader& Reader)>;
    // Clock: the time rules' (the system's when none).
    explicit AgentBed(int Doors, const QString& Extra = {}, const QString& More = {}, const PortChoice& PortOf = {},
                      TClock* Clock = nullptr)
    {
        QDir().mkpath(Runtime());
        QByteArray Config;
        for (int I = 0; I < Doors; ++I) {
            Readers.push_back(std::make_unique<sim::SimReader>());
            Link(I);
            const QString Port = PortOf ? PortOf(I, *Readers.back()) : QString();
            Config += QStringLiteral("[door-%1]\nname = Door %1\nport = %2\n%3\n")
                          .arg(I)
                          .arg(Port.isEmpty() ? Path(QString("tty%1").arg(I)) : Port, Extra)
                          .toUtf8();
        }
        Configure(Config + "[log]\npath = access.db\n" + More.toUtf8());
        Agent = std::make_unique<TAgent>(Path("agent.conf"), Runtime(), Dir.path());
        QObject::connect(Agent.get(), &TAgent::Swiped, [this](const TSwipeRecord& S) {
            Swipes.push_back({S.DoorId, SwipeCardValue(S), S.Known, S.Name, S.Reason});
        });
        QObject::connect(Agent.get(), &TAgent::DoorAdded, [this](TDoor* D) {
            D->OnSay = [this](int Priority, const QString& Text) { Said << QStringLiteral("<%1>%2").arg(Priority).arg(Text); };
        });
        Agent->OnCheckConfig = [this](const TAgentConfig& C) { MqttSettingsIn(Path("agent.conf"), C); };
        Agent->OnSay = [this](int Priority, const QString& Text) { Said << QStringLiteral("<%1>%2").arg(Priority).arg(Text); };
        if (Clock)
            Agent->SetClock(*Clock);
        Agent->Start();
        if (Agent->Config().Mqtt) {
            Bus = std::make_unique<TMqttBridge>(*Agent, *MqttSettingsIn(Path("agent.conf"), Agent->Config()));
            Bus->OnSay = [this](int Priority, const QString& Text) { Said << QStringLiteral("<%1>%2").arg(Priority).arg(Text); };
        }
    }

    ~AgentBed()
    {
        Bus.reset();
        Agent.reset();
    }

    // Replaces the configuration; the agent reads it at its next Reload.
    void Configure(const QByteArray& Text)
    {
        QFile File(Path("agent.conf"));
        File.open(QIODevice::WriteOnly);
        File.write(Text);
    }

    // How many frames with Code the reader behind door I has received.
    size_t FramesOf(int I, uint8_t Code) const
    {
        const auto Frames = Readers[size_t(I)]->ReceivedFrames();
        return size_t(std::count_if(Frames.begin(), Frames.end(), [&](const sim::Frame& F) { return F.size() > 2 && F[2] == Code; }));
    }

    // A new reader behind door I's name, holding what the old one held.
    void Replug(int I)
    {
        auto Old = std::move(Readers[size_t(I)]);
        Readers[size_t(I)] = std::make_unique<sim::SimReader>();
        Readers[size_t(I)]->SetCards(Old->Cards());
        Old->HangUp();
        Link(I);
    }

private:
    void Link(int I)
    {
        const QString Name = Path(QString("tty%1").arg(I));
        QFile::remove(Name);
        QFile::link(QString::fromStdString(Readers[size_t(I)]->PortName()), Name);
    }
};
