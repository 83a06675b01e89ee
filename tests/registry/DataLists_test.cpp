// Each registry's own rules: which records may join, what a key finds, the file a save
// writes and what a load keeps of a bad one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"
#include "tests/registry/RegistryModel.h"

namespace {

using namespace std::string_literals;
using registry_model::NewGw;
using registry_model::NewRoute;
using registry_model::Own;

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

constexpr std::int32_t A = CNacData::kAccept;
constexpr std::int32_t D = CNacData::kDrop;

struct Fields {
  std::int32_t target;
  const char* source;
  const char* mac;
};

std::unique_ptr<CNacData> Entry(const Fields& f) {
  auto entry = std::make_unique<CNacData>();
  entry->target = f.target;
  EXPECT_TRUE(entry->SetSource(f.source) && entry->SetMac(f.mac));
  return entry;
}

// Identity and match are one rule: whether other may join stored, and whether it finds it.
TEST(NacDataListTest, IdentityAndMatch) {
  const struct {
    Fields stored, other;
    int add;
    bool match;
  } cases[] = {
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", ""}, -1, true},
      {{A, "192.168.0.1", ""}, {A, "192.168.0.1", "001122334455"}, 0, false},
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", "00:00:00:00:00:00"}, -1, true},
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", "00-11-22-33-44-55"}, -1, true},
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", "001122334466"}, 0, false},
      {{A, "192.168.0.1", "001122334455"}, {D, "192.168.0.1", "001122334455"}, 0, false},
      {{A, "192.168.0.1", ""}, {A, "192.168.0.2", ""}, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CNacDataList>(Entry(c.stored), Entry(c.other)),
              std::make_pair(c.add, c.match))
        << c.stored.mac << " / " << c.other.source << " " << c.other.mac;
  }
}

std::unique_ptr<CQuarantineData> Server(const char* source, const char* protocol, const char* port) {
  auto server = std::make_unique<CQuarantineData>();
  EXPECT_TRUE(server->SetSource(source) && server->SetPort(port));
  server->protocol = protocol;
  return server;
}

int Add(CQuarantineDataList& list, const char* source, const char* protocol, const char* port) {
  return registry_model::Own(list, Server(source, protocol, port));
}

// "source protocol port" per record.
std::string Servers(CQuarantineDataList& list) {
  return testing_support::Dump<CQuarantineData>(list, [](const CQuarantineData& s) {
    return s.sourceText + " " + s.protocol + " " + s.portText;
  });
}

// Identity and match are one rule: address bytes, protocol text and port text.
TEST(QuarantineDataListTest, IdentityAndMatch) {
  CQuarantineDataList list;
  ASSERT_EQ(Add(list, "172.17.254.254", "tcp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.017.254.254", "tcp", "4208"), -1);
  EXPECT_EQ(Add(list, "172.17.254.254", "udp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.254", "tcp", "04208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.253", "tcp", "4208"), 0);
}

TEST(QuarantineDataListTest, FileHoldsLiveRecordsQuoted) {
  testing_support::TempDir dir;
  CQuarantineDataList list;
  Add(list, "172.17.254.254", "tcp", "4208");
  Add(list, "10.0.0.1", "udp", "53");
  Add(list, "10.0.0.2", "udp", "080");
  list.MarkDeleted(*Server("10.0.0.1", "udp", "53"));
  ASSERT_EQ(list.Save("quarantine.csv"), 0);
  EXPECT_EQ(dir.Read("quarantine.csv"), "\"172.17.254.254\",\"tcp\",\"4208\"\r\n\"10.0.0.2\",\"udp\",\"080\"\r\n");
}

// Each file is loaded over one older record, withdrawn unless the file is missing.
TEST(QuarantineDataListTest, LoadKeepsTheLinesBeforeTheFirstBadOne) {
  const std::string longLine = "\"10.0.0.1\",\"tcp\",\"80\"," + std::string(4095 - 22, 'x');
  const struct {
    std::string content;  // "-": no file
    int result;
    std::string after;
  } cases[] = {
      {"-", -1, ""},
      {"", 0, ""},
      {" 10.0.0.1 ,\tudp , 53 \t\r\n\"10.0.0.2\",\"tcp\",\"80\",junk", 0, "10.0.0.1 udp 53+;10.0.0.2 tcp 80+;"},
      {"\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.2\",\"TCP\",\"80\"\r\n\"10.0.0.3\",\"tcp\",\"80\"\r\n", -1,
       "10.0.0.1 tcp 80+;"},
      {"\"10.0.0.1\",\"tcp\"\r\n", -1, ""},
      {"\"10.0.0.1\",\"tcp\",\"\"\r\n", -1, ""},
      {"\"10.0.0.1\",,\"80\"\r\n", -1, ""},
      {"\"10.0.0.1\",\"tcp\",\"65536\"\r\n", -1, ""},
      {"\"10.0.0.256\",\"tcp\",\"80\"\r\n", -1, ""},
      {"\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.1\",\"tcp\",\"80\"\r\n", -1, "10.0.0.1 tcp 80+;"},
      {longLine + "\"10.0.0.2\",\"udp\",\"53\"\r\n", 0, "10.0.0.1 tcp 80+;10.0.0.2 udp 53+;"},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    if (c.content != "-") dir.Write("q.csv", c.content);
    CQuarantineDataList list;
    Add(list, "192.0.2.1", "tcp", "1");
    EXPECT_EQ(list.Load(c.content != "-" ? "q.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Servers(list), (c.content != "-" ? "-192.0.2.1 tcp 1;" : "192.0.2.1 tcp 1;") + c.after);
  }
}

// "mac,source,network,netmask"; a MAC of "M" or "N" stands for one of two fixed ones.
std::unique_ptr<CPcData> Pc(const std::string& text) {
  std::string f[4];
  std::istringstream in(text);
  for (std::string& field : f) std::getline(in, field, ',');
  if (f[0] == "M" || f[0] == "N") f[0] = f[0] == "M" ? "00:11:22:33:44:55" : "00:11:22:33:44:66";
  auto pc = std::make_unique<CPcData>();
  EXPECT_TRUE(pc->SetMac(f[0].c_str()) && pc->SetSource(f[1].c_str()) && pc->SetNetwork(f[2].c_str()) &&
              pc->SetNetmask(f[3].c_str()))
      << text;
  return pc;
}

// One letter per record in list order: upper case when live, lower case when deleted.
std::string Letters(CPcDataList& list) {
  std::string letters;
  char letter = 'A';
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false), ++letter) {
    letters += node->RecordAs<CPcData>()->IsLive() ? letter : static_cast<char>(letter + 32);
  }
  return letters;
}

// Whether other may join stored (a shape that is neither PC nor network never may), and
// whether other as a key finds stored.
TEST(PcDataListTest, IdentityAndMatch) {
  const struct {
    const char *stored, *other;
    int add;
    bool match;
  } cases[] = {
      {"M", "M", -1, true},
      {"M", "M,10.0.0.1", 0, false},
      {"M", "N", 0, false},
      {"M,10.0.0.1", "M", -1, true},
      {"M,,10.0.0.0,255.0.0.0", "M", -1, true},
      {"M,,192.168.0.0,255.255.255.0", "M,,192.168.0.9,255.255.255.0", -1, true},
      {"M,,192.168.0.0,255.255.255.0", "M,,192.168.0.0,255.255.0.0", 0, false},
      {"M,,192.168.0.0,255.255.255.0", ",,192.168.0.0,255.255.255.0", -1, false},
      {",,192.168.0.0,255.255.255.0", "M,,192.168.0.9,255.255.255.0", -1, false},
      {",,192.168.0.0,255.255.255.0", ",,192.168.1.0,255.255.255.0", 0, false},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.77,255.255.255.0", -1, true},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.0", 0, true},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.77", 0, false},
      {",,10.0.0.0", ",,20.0.0.0", -1, false},
      {",,192.168.0.0,255.255.255.0", "", -1, true},
      {"M,10.0.0.1", "N,10.0.0.1,192.168.0.0", -1, false},
      {"M", ",10.0.0.1", -1, false},
      {"M", ",,,255.0.0.0", -1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CPcDataList>(Pc(c.stored), Pc(c.other)), std::make_pair(c.add, c.match))
        << c.stored << " / " << c.other;
  }
}

// That a saved file loads back the same is checked by the PcLoad fuzz target.
TEST(PcDataListTest, FileHoldsEachShape) {
  testing_support::TempDir dir;
  CPcDataList list;
  for (const char* pc : {"00-1a-2b-3c-4d-5e,192.168.0.1", "M", "N,,10.0.0.0", ",,192.168.0.0,255.255.255.0", "001122334477"}) {
    ASSERT_EQ(Own(list, Pc(pc)), 0) << pc;
  }
  list.MarkDeleted(*Pc("001122334477"));
  ASSERT_EQ(list.Save("pc.csv"), 0);
  const std::string expected =
      "\"00:1A:2B:3C:4D:5E\",\"192.168.0.1\",\"\",\"\"\r\n"
      "\"00:11:22:33:44:55\",,\"\",\"\"\r\n"
      "\"00:11:22:33:44:66\",,\"10.0.0.0\",\"\"\r\n"
      "\"\",,\"192.168.0.0\",\"255.255.255.0\"\r\n";
  EXPECT_EQ(dir.Read("pc.csv"), expected);
  EXPECT_EQ(list.Save("missing/pc.csv"), -1);
}

// Each file is loaded over one older record: "a" when withdrawn, "A" when the file is missing.
TEST(PcDataListTest, LoadKeepsTheLinesBeforeTheFirstBadOne) {
  const struct {
    std::string file;
    int result;
    const char* letters;
  } cases[] = {
      {"-", -1, "A"},
      {" 00-11-22-33-44-55 ,\t192.168.0.1\r\n\"\",,\"10.0.0.0\",\"255.0.0.0\",extra\r\n", 0, "aBC"},
      {"\"00:11:22:33:44:55\",\"192.168.0.1\",\"192.168.0.0\",\"\"\r\n", -1, "a"},
      {"\"\",\"192.168.0.1\",\"\",\"\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\"\r\nxyz\r\n\"00:11:22:33:44:66\"\r\n", -1, "aB"},
      {"\"00:11:22:33:44:55\",,\"\",\"255.0.255.0\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\",,\"1.2.3\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\"\0,\"1.1.1.1\"\r\n\"\x01\xfe\",\r\n"s, -1, "aB"},
      {"\"00:11:22:33:44:55\",\"\"\r\n\"00:11:22:33:44:66\",,\"\",\"\"", 0, "aBC"},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    CPcDataList list;
    Own(list, Pc("001122334499"));
    if (c.file != "-") dir.Write("pc.csv", c.file);
    EXPECT_EQ(list.Load(c.file != "-" ? "pc.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Letters(list), c.letters);
  }
}

std::uint32_t Ip(const char* text) {
  std::uint32_t value = 0;
  EXPECT_TRUE(ParseIPv4Value(text, value)) << text;
  return value;
}

// "address:port" per gateway.
std::string Gateways(CGwDataList& list) {
  return testing_support::Dump<CGwData>(list, [](auto& g) { return g.addressText + ":" + std::to_string(g.port); });
}

// Identity is the address alone; a match needs the key's port too when the key has one.
TEST(GwDataListTest, IdentityAndMatch) {
  const struct {
    const char *address, *port;
    int add;
    bool match;
  } cases[] = {
      {"10.0.0.1", "8080", -1, true},
      {"10.0.0.1", "880", -1, false},
      {"10.0.0.1", "", -1, true},
      {"10.0.0.2", "8080", 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CGwDataList>(std::unique_ptr<CGwData>(NewGw("10.0.0.1", "8080")),
                                                       std::unique_ptr<CGwData>(NewGw(c.address, c.port))),
              std::make_pair(c.add, c.match))
        << c.address << ":" << c.port;
  }
}

// Probe results in turn: whether the state changed, the state after, and whether the
// gateway must be sent its whole state again.
TEST(GwDataListTest, KeepAliveCountsFailuresWhileOn) {
  const struct {
    bool answered;
    int changed, on, resetPending;
  } probes[] = {
      {true, 1, 1, 1},  {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 1, 0, 0}, {false, 0, 0, 0},
      {true, 1, 1, 1},  {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 0, 1, 0}, {true, 0, 1, 0},  {false, 0, 1, 0},
  };
  CGwDataList list;
  CGwData* gw = NewGw("10.0.0.1", "8080");
  EXPECT_EQ(list.AddUnique(gw), 0);
  EXPECT_EQ(list.KeepAliveOn(Ip("10.0.0.9")), 0);
  const std::uint8_t bytes[4] = {10, 0, 0, 1};
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    gw->resetPending = 0;
    gw->probeOutstanding = 1;
    EXPECT_EQ(probes[i].answered ? list.KeepAliveOn(bytes) : list.KeepAliveOff(Ip("10.0.0.1")), probes[i].changed) << i;
    EXPECT_EQ(gw->on, probes[i].on) << i;
    EXPECT_EQ(gw->resetPending, probes[i].resetPending) << i;
    EXPECT_EQ(gw->probeOutstanding, 0) << i;
  }
  list.MarkDeleted(CGwDataList::AddressKey(Ip("10.0.0.1")));
  for (int failure = 0; failure < 5; ++failure) EXPECT_EQ(list.KeepAliveOff(bytes), 0);
  EXPECT_EQ(gw->on, 1);
}

TEST(GwDataListTest, FileHoldsLiveGatewaysAndIsPrivate) {
  testing_support::TempDir dir;
  CGwDataList list;
  EXPECT_EQ(list.AddUnique(NewGw("172.16.0.1")), 0);
  CGwData* bare = NewGw("10.0.0.2", "8080");
  bare->user.clear();
  bare->password.clear();
  EXPECT_EQ(list.AddUnique(bare), 0);
  EXPECT_EQ(list.AddUnique(NewGw("10.0.0.3")), 0);
  list.MarkDeleted(CGwDataList::AddressKey(Ip("10.0.0.3")));
  ASSERT_EQ(list.Save("gw.csv"), 0);
  EXPECT_EQ(dir.Read("gw.csv"), "\"172.16.0.1\",880,\"admin\",\"tovin\"\r\n\"10.0.0.2\",8080,,\r\n");
  struct stat info {};
  ASSERT_EQ(stat("gw.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Each file is loaded over one older gateway, withdrawn unless the file is missing.
TEST(GwDataListTest, LoadKeepsTheLinesBeforeTheFirstBadOne) {
  const struct {
    const char* content;  // none: no file
    int result;
    const char* after;
  } cases[] = {
      {nullptr, -1, ""},
      {"\"10.0.0.1\"\r\n 10.0.0.2 , 8080 \r\n", 0, "10.0.0.1:880+;10.0.0.2:8080+;"},
      {"\"10.0.0.1\"\r\n\"10.0.0.2\",0\r\n\"10.0.0.4\"\r\n", -1, "10.0.0.1:880+;"},
      {"\"10.0.0.1\"\r\n\"10.0.0.2\",65536\r\n", -1, "10.0.0.1:880+;"},
      {"\"10.0.0.1\"\r\n\"10.0.0.1\",8080\r\n\"10.0.0.4\"\r\n", -1, "10.0.0.1:880+;"},
      {"\"10.0.0.256\"\r\n", -1, ""},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "no file");
    if (c.content != nullptr) dir.Write("gw.csv", c.content);
    CGwDataList list;
    EXPECT_EQ(list.AddUnique(NewGw("10.0.0.9")), 0);
    EXPECT_EQ(list.Load(c.content != nullptr ? "gw.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Gateways(list), (c.content != nullptr ? "-10.0.0.9:880;" : "10.0.0.9:880;") + std::string(c.after));
  }
}

// Identity: equal devices and masked networks. Match: the key's device, if any, and masked networks.
TEST(GwrouteDataListTest, IdentityAndMatch) {
  const struct {
    const char *storedDevice, *network, *device;
    int add;
    bool match;
  } cases[] = {
      {"", "192.168.0.0", "", -1, true},
      {"", "192.168.0.0", "eth0", 0, false},
      {"eth0", "192.168.0.0", "", 0, true},
      {"eth0", "192.168.0.0", "eth0", -1, true},
      {"", "192.168.1.0", "", 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CGwrouteDataList>(
                  std::unique_ptr<CGwrouteData>(NewRoute("192.168.0.0", "255.255.0.0", c.storedDevice)),
                  std::unique_ptr<CGwrouteData>(NewRoute(c.network, "255.255.255.0", c.device))),
              std::make_pair(c.add, c.match))
        << c.storedDevice << " / " << c.network << " " << c.device;
  }
}

class GwrouteFileTest : public ::testing::Test {
 protected:
  GwrouteFileTest() {
    for (int n = 0; n < 3; ++n) {
      EXPECT_EQ(gateways_.AddUnique(gw_[n] = NewGw(("172.16.0." + std::to_string(n + 1)).c_str())), 0);
    }
    EXPECT_EQ(gw_[0]->Routes().AddUnique(NewRoute("10.1.0.0", "255.255.0.0", "eth1")), 0);
    CGwrouteData* withdrawn = NewRoute("10.2.0.0", "255.255.0.0");
    EXPECT_EQ(gw_[0]->Routes().AddUnique(withdrawn), 0);
    withdrawn->deleted = 1;
    EXPECT_EQ(gw_[1]->Routes().AddUnique(NewRoute("192.168.0.0", "255.255.255.0")), 0);
    EXPECT_EQ(gw_[2]->Routes().AddUnique(NewRoute("10.3.0.0", "255.255.0.0")), 0);
    gateways_.MarkDeleted(CGwDataList::AddressKey(gw_[2]->address));
  }

  // "gateway device network/netmask" of every live route; "+" when flagged added.
  std::string Live() {
    std::string out;
    for (int n = 0; n < 3; ++n) {
      CGwrouteDataList& routes = gw_[n]->Routes();
      for (CNacNode* node = routes.GetHead(false); node != nullptr; node = routes.GetNext(node, false)) {
        const auto& r = *node->RecordAs<CGwrouteData>();
        if (!r.IsLive()) continue;
        out += std::to_string(n + 1) + r.device + " " + r.networkText + "/" + r.netmaskText + (r.added ? "+|" : "|");
      }
    }
    return out;
  }

  testing_support::TempDir dir_;
  CGwDataList gateways_;
  CGwData* gw_[3];
};

TEST_F(GwrouteFileTest, SaveWritesTheLiveRoutesOfEveryGateway) {
  ASSERT_EQ(SaveGwroutes(gateways_, "gwroute.csv"), 0);
  EXPECT_EQ(dir_.Read("gwroute.csv"),
            "\"172.16.0.1\",\"eth1\",\"10.1.0.0\",\"255.255.0.0\"\r\n"
            "\"172.16.0.2\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
            "\"172.16.0.3\",,\"10.3.0.0\",\"255.255.0.0\"\r\n");
}

// Every load withdraws all routes first; a failure keeps what came before it.
TEST_F(GwrouteFileTest, LoadOutcomes) {
  const struct {
    const char* content;  // none: no file
    GwrouteLoadResult result;
    const char* live;
  } cases[] = {
      {nullptr, GwrouteLoadResult::kNotOpened, ""},
      // No gateway, an unknown one and a withdrawn one are passed over; an empty address is
      // the line before's, and the same route twice is two routes.
      {",,\"10.0.0.0\",\"255.0.0.0\"\r\n\"10.9.9.9\",,\"10.0.0.0\"\r\n\"172.16.0.3\",,\"10.0.0.0\"\r\n"
       "\"172.16.0.2\",,\"10.5.0.0\",\"255.255.0.0\"\r\n  ,\"eth1\",\"10.1.0.0\"\r\n,\"eth1\",\"10.1.0.0\"\r\n",
       GwrouteLoadResult::kLoaded, "2 10.5.0.0/255.255.0.0+|2eth1 10.1.0.0/+|2eth1 10.1.0.0/+|"},
      {"\"172.16.0.1\",,\"10.1.0.0\",\"255.255.0.0\"\r\n\"172.16.0.1\",,\"10.2.0.0\",\"255.0.255.0\"\r\n"
       "\"172.16.0.1\",,\"10.3.0.0\"\r\n",
       GwrouteLoadResult::kBadLine, "1 10.1.0.0/255.255.0.0+|"},
      {"\"172.16.0.256\",,\"10.1.0.0\"\r\n", GwrouteLoadResult::kBadLine, ""},
      {"\"172.16.0.1\",,\"10.1.0\"\r\n", GwrouteLoadResult::kBadLine, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "no file");
    if (c.content != nullptr) dir_.Write("gwroute.csv", c.content);
    EXPECT_EQ(LoadGwroutes(gateways_, c.content != nullptr ? "gwroute.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Live(), c.live);
    EXPECT_EQ(gw_[1]->Routes().AddUnique(NewRoute("10.9.0.0", "255.255.0.0")), 0);  // withdrawn by the next load
  }
  EXPECT_EQ(LoadGwroutes(gateways_, "."), GwrouteLoadResult::kNotOpened);  // not a regular file
}

}  // namespace
