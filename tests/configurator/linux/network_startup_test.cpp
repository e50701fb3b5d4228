// The start-up probe and network ports in the port map.
#include "configurator/form_test_support.h"
#include "winapi/linux/test_listener.h"

#include <cstdlib>
#include <filesystem>

namespace configurator::testing {
namespace {

namespace fs = std::filesystem;

// Points one COM name of the test's port map elsewhere for the test's duration.
class MapEntry {
 public:
  MapEntry(const std::string& com, const std::string& target)
      : link_(fs::path(std::getenv("PZ_PORT_MAP_DIR")) / com) {
    saved_ = fs::read_symlink(link_);
    fs::remove(link_);
    fs::create_symlink(target, link_);
  }
  ~MapEntry() {
    fs::remove(link_);
    fs::create_symlink(saved_, link_);
  }

 private:
  fs::path link_;
  fs::path saved_;
};

class NetworkStartup : public FormTest {};

TEST_F(NetworkStartup, ANetworkPortInThePortMapIsListedWithoutConnecting) {
  winapi_test::Listener server;
  const auto expected = WithMachinePorts({"COM9"});
  MapEntry entry("COM9", server.Url("rfc2217"));
  Create();
  EXPECT_EQ(form->cbPort.Items(), expected);
  EXPECT_FALSE(server.HasConnection()) << "the probe connected";
  EXPECT_TRUE(app.Errors().empty());
}

}  // namespace
}  // namespace configurator::testing
