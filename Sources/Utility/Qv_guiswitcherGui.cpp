// Six buttons, each replacing the host's active interface layout with one of six prepared
// layouts (rack and synth, three sizes each) by copying its bytes.
#include "MpInterface.h"
#include "SharedFolder.h"
#include "TextFiles.h"

#include <filesystem>

class Qv_guiswitcherGui : public MpGuiBase {
public:
    enum Pin { kRackSmall, kRackMedium, kRackHuge, kSynthSmall, kSynthMedium, kSynthHuge };

    Qv_guiswitcherGui()
    {
        initializePin(kRackSmall, rackSmall_, &Qv_guiswitcherGui::onSetRackSmall);
        initializePin(kRackMedium, rackMedium_, &Qv_guiswitcherGui::onSetRackMedium);
        initializePin(kRackHuge, rackHuge_, &Qv_guiswitcherGui::onSetRackHuge);
        initializePin(kSynthSmall, synthSmall_, &Qv_guiswitcherGui::onSetSynthSmall);
        initializePin(kSynthMedium, synthMedium_, &Qv_guiswitcherGui::onSetSynthMedium);
        initializePin(kSynthHuge, synthHuge_, &Qv_guiswitcherGui::onSetSynthHuge);
    }

    void onSetRackSmall() { switchTo(rackSmall_, "gui_553.layout.json"); }
    void onSetRackMedium() { switchTo(rackMedium_, "gui_622.layout.json"); }
    void onSetRackHuge() { switchTo(rackHuge_, "gui_200.layout.json"); }
    void onSetSynthSmall() { switchTo(synthSmall_, "gui_100.layout.json"); }
    void onSetSynthMedium() { switchTo(synthMedium_, "gui_855.layout.json"); }
    void onSetSynthHuge() { switchTo(synthHuge_, "gui_200SYN.layout.json"); }

private:
    // The most of a layout that is copied: far beyond any layout, small enough to hold for the copy.
    // A larger source, like one that is not a regular file, is not copied.
    static constexpr std::size_t kMostLayoutBytes = std::size_t{64} << 20;

    static std::filesystem::path layoutFolder()
    {
        return platform::sharedFolder() / "Quorvane" / "TAVRIN TWO" / "GUI" / "AU";
    }

    // Acts at every notification that finds the button true. The copy replaces the active
    // layout in one rename, so a missing source or a failed write leaves the old layout whole. A
    // link that another user planted at one of these names is not followed, neither to read a
    // file of this user's and copy it where others see it, nor to write onto one.
    static void switchTo(const MpGuiPin<bool>& button, const char* source)
    {
        if (!button.getValue())
            return;
        const std::filesystem::path folder = layoutFolder();
        if (const auto bytes = platform::readFile(folder / source, kMostLayoutBytes, platform::LinkTrust::OwnOnly))
            platform::writeFileAtomically(folder / "gui.layout.json", *bytes, platform::LinkTrust::OwnOnly);
    }

    MpGuiPin<bool> rackSmall_;
    MpGuiPin<bool> rackMedium_;
    MpGuiPin<bool> rackHuge_;
    MpGuiPin<bool> synthSmall_;
    MpGuiPin<bool> synthMedium_;
    MpGuiPin<bool> synthHuge_;
};

MP_REGISTER_MODULE(Qv_guiswitcherGui, L"QV_GuiSwitcher")
