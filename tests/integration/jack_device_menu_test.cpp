// The MIDI In menu over the real JACK service, driven as the main window drives it:
// every device notice is posted to the UI thread and refreshes the menu. The peer
// plays a synth that is switched on late, reboots while open, or is disconnected
// by a patchbay.
#include "jack_fixture.h"
#include "midi/midi_menu.h"
#include "support/queued_poster.h"
#include "support/reg_ini_file.h"
#include "support/registry_store.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace pelrow::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBase = "\\Software\\Test\\Pelrow";

class JackDeviceMenuTest : public JackTest {
protected:
  TPeerKind PeerKind() const override { return TPeerKind::RawEvents; }
  void SetUp() override {
    JackTest::SetUp();
    if (HasFatalFailure())
      return;
    char folder[] = "/tmp/pelrow-menu-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    FFolder = folder;
    FStore = std::make_unique<TRegistryStore>(FFolder + "/registry");
    FIn = std::make_unique<TMidiInMenu>(*FService, FPoster);
    FIn->OnTextMessage = [this](TMidiMenuBase&, const std::string& text) {
      FTexts.push_back(text);
    };
    FIn->OnError = [this](TMidiMenuBase&, const std::string& text) { FErrors.push_back(text); };
    FIn->SetOnMidiData([this](TMidiInput& input) {
      // Ports that come and go may make the server report an xrun: a warning
      // event, no message.
      while (auto event = input.GetEvent())
        if (event->Gap == TInputGap::None)
          FReceived.push_back(event->Status);
    });
    FIn->SetBaseMenu(&FModel);
    FService->SetOnDevicesChanged([this] {
      FPoster.Post([this] {
        if (FIn)
          FIn->RefreshDeviceList(false, true);
      });
    });
  }
  void TearDown() override {
    FIn.reset();
    JackTest::TearDown();
    FStore.reset();
    if (!FFolder.empty())
      std::filesystem::remove_all(FFolder);
  }

  void LoadStoredInput(const std::string& name) {
    TRegIniFile settings(*FStore, kBase);
    settings.WriteString(TMidiMenuBase::DefaultRegKey, "MidiIn", name);
    FIn->LoadSettings(settings);
  }
  bool OpenAs(const std::string& name) {
    return FPoster.RunUntil([&] { return !FIn->IsClosed() && FIn->GetCurrentDeviceName() == name; },
                            10s);
  }
  // A note from the peer arrives; it is sent again until then, since a connection
  // made on the service thread carries data only from a later cycle on.
  bool NoteArrives() {
    FReceived.clear();
    for (int i = 0; i < 50; ++i) {
      if (!FPeer->Ok("send src 90 3C 40"))
        return false;
      if (FPoster.RunUntil([&] { return !FReceived.empty(); }, 200ms))
        return FReceived.front() == 0x90;
    }
    return false;
  }
  std::vector<std::string> Checked() const {
    std::vector<std::string> checked;
    for (size_t i = 0; i < FModel.Count(); ++i)
      if (FModel.Item(i).Checked)
        checked.push_back(FModel.Item(i).Caption);
    return checked;
  }
  void ClickCurrent() {
    for (size_t i = 0; i < FModel.Count(); ++i)
      if (FModel.Item(i).Checked) {
        ASSERT_TRUE(FModel.Click(&FModel.Item(i)));
        return;
      }
    FAIL() << "nothing checked";
  }

  const std::string FSource = TPeerProcess::PortName("src");
  std::string FFolder;
  std::unique_ptr<TRegistryStore> FStore;
  TQueuedPoster FPoster;
  TMenuModel FModel;
  std::unique_ptr<TMidiInMenu> FIn;
  std::vector<std::string> FTexts;
  std::vector<std::string> FErrors;
  std::vector<uint8_t> FReceived;
};

TEST_F(JackDeviceMenuTest, AStoredInputThatAppearsLaterIsOpenedAndFollowedThroughReboots) {
  LoadStoredInput(FSource);
  EXPECT_TRUE(FIn->IsClosed());
  EXPECT_EQ(FTexts.back(), "Waiting for MIDI IN " + FSource + " to be plugged in or switched on.");

  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_TRUE(OpenAs(FSource));
  EXPECT_EQ(FTexts.back(), "Opened MIDI IN: " + FSource);
  EXPECT_TRUE(NoteArrives());

  // A quick reboot: the menu may never see the port missing, so the backend must
  // connect the open input to the port that came back.
  ASSERT_TRUE(FPeer->Ok("close src"));
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  EXPECT_TRUE(NoteArrives()) << "the input still points at the old port";
  EXPECT_EQ(Checked(), std::vector<std::string>{FSource});

  // A slow one: the menu lets go of the device and opens it again when it returns.
  ASSERT_TRUE(FPeer->Ok("close src"));
  ASSERT_TRUE(FPoster.RunUntil([&] { return FIn->IsClosed(); }, 10s));
  EXPECT_EQ(FIn->ReconnectName(), FSource);
  EXPECT_EQ(Checked(), std::vector<std::string>{"none"});
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_TRUE(OpenAs(FSource));
  EXPECT_TRUE(NoteArrives());
  EXPECT_EQ(Checked(), std::vector<std::string>{FSource});
}

TEST_F(JackDeviceMenuTest, APatchbayDisconnectIsShownAndTheDeviceCanBeClickedBackIn) {
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_GE(WaitForInput(FSource), 0);
  LoadStoredInput(FSource);
  ASSERT_TRUE(OpenAs(FSource));
  ASSERT_TRUE(NoteArrives());

  ASSERT_TRUE(FPeer->Ok("unplug src"));
  ASSERT_TRUE(FPoster.RunUntil([&] { return !FErrors.empty(); }, 10s));
  EXPECT_EQ(FErrors, std::vector<std::string>{"MIDI IN " + FSource +
                                              " was disconnected by another program; nothing "
                                              "will arrive until it is connected again."});
  // The port is still ours and a patchbay may connect it again: it stays checked.
  EXPECT_FALSE(FIn->IsClosed());
  EXPECT_TRUE(FIn->SourceLost());
  EXPECT_EQ(Checked(), std::vector<std::string>{FSource});

  // Clicking the device opens it afresh, connected again.
  ClickCurrent();
  EXPECT_FALSE(FIn->SourceLost());
  EXPECT_EQ(FTexts.back(), "Opened MIDI IN: " + FSource);
  EXPECT_TRUE(NoteArrives());
}

} // namespace
} // namespace pelrow::testing
