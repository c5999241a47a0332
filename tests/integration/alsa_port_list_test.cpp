// The ALSA device lists: names that stay the same across replug, places that stay
// put while other ports come and go, and what an open the sequencer refuses
// reports. Runs without a sequencer.
#include "midi/service/alsa/alsa_device_observer.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pelrow {
namespace {

std::vector<std::string> Names(const std::vector<TAlsaPort>& ports) {
  std::vector<std::string> names;
  for (const TAlsaPort& port : ports)
    names.push_back(port.Name);
  return names;
}

TEST(AlsaPortList, SecondAndThirdPortOfTheSameNameAreNumbered) {
  std::vector<TAlsaPort> ports;
  AddUniquelyNamed(ports, {"Synth:MIDI 1", {20, 0}, true});
  AddUniquelyNamed(ports, {"Synth:MIDI 1", {24, 0}, true});
  AddUniquelyNamed(ports, {"Synth:MIDI 1", {28, 0}, true});
  AddUniquelyNamed(ports, {"Synth:MIDI 1 (2)", {32, 0}, false});
  EXPECT_EQ(Names(ports), (std::vector<std::string>{"Synth:MIDI 1", "Synth:MIDI 1 (2)",
                                                    "Synth:MIDI 1 (3)", "Synth:MIDI 1 (2) (2)"}));
}

TEST(AlsaPortList, ReplugKeepsPlacesAndTakesTheNewAddress) {
  std::vector<TAlsaPort> known = {{"A:a", {20, 0}}, {"B:b", {24, 0}}, {"C:c", {28, 0}}};
  // A is gone, B came back under a new client number, D is new.
  MergePorts(known, {{"D:d", {36, 0}}, {"C:c", {28, 0}}, {"B:b", {32, 0}}});
  EXPECT_EQ(Names(known), (std::vector<std::string>{"B:b", "C:c", "D:d"}));
  EXPECT_EQ(known[0].Address.Client, 32);
}

TEST(AlsaOpenFailure, APortThatRefusesSaysWhyInsteadOfNoLongerConnected) {
  std::string gone;
  CommonMidiErrorText(MidiErrNoDevice, gone);
  EXPECT_EQ(AlsaOpenResult(-EINVAL), MidiErrNoDevice) << "the kernel's answer for a port gone";
  EXPECT_EQ(AlsaOpenResult(-EBUSY), MidiErrAllocated);
  EXPECT_EQ(AlsaOpenResult(-EPERM), MidiErrAccessDenied);
  std::string text;
  ASSERT_TRUE(CommonMidiErrorText(MidiErrAccessDenied, text));
  EXPECT_NE(text, gone);
  // Anything else in ALSA's own words.
  ASSERT_TRUE(AlsaErrorText(AlsaOpenResult(-ENOSPC), text));
  EXPECT_NE(text.find(snd_strerror(-ENOSPC)), std::string::npos) << text;
  EXPECT_FALSE(AlsaErrorText(MidiErrNoDevice, text));
}

} // namespace
} // namespace pelrow
