// The layout switcher: the chosen layout copied over the active one, byte for byte.
#include "framework/HostTestSupport.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace tav_host;
using test_support::add;

namespace {

class GuiSwitcher : public test_support::InterfaceHostTest {
protected:
    std::filesystem::path layouts() const { return shared.path() / "Quorvane" / "TAVRIN TWO" / "GUI" / "AU"; }
    void write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(layouts() / name, std::ios::binary) << bytes;
    }
    std::string active() const
    {
        std::ifstream in(layouts() / "gui.layout.json", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    test_support::TemporarySharedFolder shared;
};

TEST_F(GuiSwitcher, CopiesTheChosenLayoutByteForByte)
{
    std::filesystem::create_directories(layouts());
    const std::string names[] = {"gui_553", "gui_622", "gui_200", "gui_100", "gui_855", "gui_200SYN"};
    for (const std::string& name : names)
        write(name + ".layout.json", name + "\r\n\0\xff" + std::string(name.size(), '#'));
    write("gui.layout.json", std::string(4096, 'o'));
    const std::size_t m = add(host, "QV_GuiSwitcher");
    host.start();
    for (int pin = 0; pin < 6; ++pin) {
        transmitsAfter(m, pin, boolValue(true));
        EXPECT_EQ(active(), names[pin] + "\r\n\0\xff" + std::string(names[pin].size(), '#'));
    }
    write("gui_553.layout.json", "changed");
    transmitsAfter(m, 0, boolValue(false));  // false does nothing
    EXPECT_EQ(active().substr(0, 10), "gui_200SYN");
    transmitsAfter(m, 0, boolValue(true));  // true again copies again
    EXPECT_EQ(active(), "changed");
    // A missing source leaves the active layout as it was.
    std::filesystem::remove(layouts() / "gui_622.layout.json");
    transmitsAfter(m, 1, boolValue(true));
    EXPECT_EQ(active(), "changed");
    EXPECT_TRUE(host.callsOf(CallKind::TransmitPin, m).empty());
}

} // namespace
