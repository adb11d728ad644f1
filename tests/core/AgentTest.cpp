// dorvik-agent's doors over simulated readers: held through unplugs, swipes named from the site
// file, the site file written to every reader when it changes; its configuration checked.

#include "agent/AgentConfig.h"
#include "cards/CardDatabaseFile.h"
#include "log/AccessLog.h"
#include "support/AgentBed.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

void SaveSite(const QString& File, std::initializer_list<std::pair<uint32_t, QByteArray>> Cards, uint32_t Master = 0)
{
    TRfidTags Tags;
    for (const auto& [Value, Name] : Cards) {
        TRfidTag& T = Tags.Add();
        T.Bytes = Card(Value);
        T.Name = Name;
    }
    SaveCardDatabaseFile(File, Tags, {Master, 0, 5}); // replaces the file, as the window saves
}

} // namespace

TEST(AgentConfig, ABadFileNamesItsSectionAndKey)
{
    const struct
    {
        const char* Text;
        const char* Said; // empty: accepted
    } Cases[] = {
        {"[front-door]\nname = Front door\nport = rfc2217://door-pc:4001   ; by the stairs\n[log]\nkeep-days = 30\n", ""},
        {"[front-door]\nprot = /dev/ttyUSB0\n", "[front-door] unknown key 'prot'"},
        {"[front-door]\nname = x\n", "[front-door] port is missing"},
        {"[a]\nport = /dev/ttyUSB0\n[b]\nport = /dev/ttyUSB0\n", "[b] port /dev/ttyUSB0 is already the port of [a]"},
        {"[front door]\nport = x\n", "letters, digits and '-'"},
        {"[mqtt]\npassword = secret\n", "[mqtt] unknown key 'password'"},
        {"[mqtt]\nport = 1883\n", "[mqtt] host is missing"},
        {"[mqtt]\nhost = b\nport = 70000\n", "[mqtt] port takes a number from 1 to 65535"},
        {"[mqtt]\nhost = b\ncommands = maybe\n", "[mqtt] commands takes true or false"},
        {"[mqtt]\nhost = b\nprefix = doors/#\n", "[mqtt] prefix takes topic levels"},
        {"[mqtt]\nhost = b\ncert-file = c.pem\nkey-file = k.pem\n", "[mqtt] ca-file is missing"},
    };
    for (const auto& C : Cases) {
        try {
            const TAgentConfig Config = ParseAgentConfig("agent.conf", C.Text);
            EXPECT_STREQ(C.Said, "") << C.Text;
            EXPECT_EQ(Config.Doors.at(0).Port, "rfc2217://door-pc:4001");
            EXPECT_EQ(Config.KeepDays, 30);
        } catch (const std::exception& E) {
            EXPECT_TRUE(*C.Said && std::string(E.what()).find(C.Said) != std::string::npos) << C.Text << " -> " << E.what();
        }
    }
}

TEST(AgentDoors, HeldThroughUnplugsNamedFromTheSiteFileAndGivenItWhenItChanges)
{
    AgentBed Bed(2, "site-file = SITE");
    // The doors were set up before the site file existed: that is said, and they run without it.
    const QString Site = Bed.Path("SITE");
    ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[0]->WaitForFrames(2, 0ms) && Bed.Readers[1]->WaitForFrames(2, 0ms); }, 10s));
    Bed.Readers[0]->SetCards({Card(5)});

    SaveSite(Site, {{5, "Ann"}, {6, "Bob"}}, 1);
    for (auto& R : Bed.Readers)
        ASSERT_TRUE(WaitUntil([&] { return R->Cards() == std::vector{Card(5), Card(6)} && R->Master() == 1; }, 10s));

    Pump(200ms);
    Bed.Readers[0]->Swipe(Card(6));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
    Bed.Readers[1]->Swipe(Card(7));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 2; }));
    EXPECT_EQ(Bed.Swipes[0].Door, "door-0");
    EXPECT_TRUE(Bed.Swipes[0].Known);
    EXPECT_EQ(Bed.Swipes[0].Name, "Bob");
    EXPECT_FALSE(Bed.Swipes[1].Known);

    // Unplugged and back with an old list: taken again and given the site file.
    Bed.Readers[1]->SetCards({Card(99)});
    Bed.Replug(1);
    ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[1]->Cards() == std::vector{Card(5), Card(6)}; }, 10s));
    Bed.Readers[1]->Swipe(Card(5));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 3; }));
    EXPECT_EQ(Bed.Swipes[2].Name, "Ann");
    EXPECT_TRUE(Bed.Swipes[2].Known);

    // Each swipe once in the log, newest first, under the door's name.
    TAccessLog Log(Bed.Path("access.db"));
    const auto Rows = Log.Query({});
    ASSERT_EQ(Log.Error(), "");
    ASSERT_EQ(Rows.size(), 3u);
    EXPECT_EQ(Rows[0].Door, "Door 1");
    EXPECT_EQ(Rows[0].Name, "Ann");
    EXPECT_EQ(Rows[2].Door, "Door 0");
}
