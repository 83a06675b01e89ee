#include "registry/NacDataList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "tests/registry/RegistryModel.h"

namespace {

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

}  // namespace
