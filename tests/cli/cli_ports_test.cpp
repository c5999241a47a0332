// Finding ports by the names a user types, and listing them for scripts.
#include "cli/cli_ports.h"

#include "midi/service/loopback/loopback_service.h"

#include <gtest/gtest.h>

namespace pelrow::cli {
namespace {

class CliPorts : public ::testing::Test {
protected:
  CliPorts() {
    FService.AddInput("Synth:Synth MIDI 1");
    FService.AddOutput("Synth:Synth MIDI 1");
    FService.AddOutput("Desk \"B\"\\2");
    FPorts = ListPorts(FService);
  }
  TLoopbackMidiService FService;
  std::vector<TPort> FPorts;
  std::string FError;
};

TEST_F(CliPorts, ListsInputsThenOutputsWithTheirIndexes) {
  EXPECT_EQ(PortListText(FPorts), "in\tPelrow Loopback\n"
                                  "in\tSynth:Synth MIDI 1\n"
                                  "out\tPelrow Loopback\n"
                                  "out\tSynth:Synth MIDI 1\n"
                                  "out\tDesk \"B\"\\2\n");
  const TPort* port = FindPort(FPorts, TPortDirection::Out, "Desk \"B\"\\2", FError);
  ASSERT_NE(port, nullptr);
  std::string name;
  ASSERT_EQ(FService.OutputName(port->Index, name), MidiOk);
  EXPECT_EQ(name, "Desk \"B\"\\2");
}

TEST_F(CliPorts, JsonEscapesWhatJsonMust) {
  EXPECT_EQ(JsonString("a\"b\\c\td\x01"), "\"a\\\"b\\\\c\\u0009d\\u0001\"");
  EXPECT_EQ(PortListJson({}), "[]\n");
  EXPECT_EQ(PortListJson({FPorts[0], FPorts[4]}),
            "[\n  {\"direction\": \"in\", \"name\": \"Pelrow Loopback\"},\n"
            "  {\"direction\": \"out\", \"name\": \"Desk \\\"B\\\"\\\\2\"}\n]\n");
}

// An exact name wins; otherwise the window's rule (case and blanks ignored) finds
// the port when it finds exactly one.
TEST_F(CliPorts, FindsByExactNameOrTheWindowsRule) {
  const TPort* port = FindPort(FPorts, TPortDirection::In, "synth:synthmidi1", FError);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->Name, "Synth:Synth MIDI 1");
  EXPECT_EQ(port->Direction, TPortDirection::In);

  FService.AddInput("SYNTH:SYNTH MIDI 1");
  const std::vector<TPort> twins = ListPorts(FService);
  EXPECT_EQ(FindPort(twins, TPortDirection::In, "synth:synth midi 1", FError), nullptr);
  EXPECT_EQ(FError, "the MIDI input \"synth:synth midi 1\" is ambiguous: it matches "
                    "\"Synth:Synth MIDI 1\", \"SYNTH:SYNTH MIDI 1\"");
  port = FindPort(twins, TPortDirection::In, "SYNTH:SYNTH MIDI 1", FError);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->Name, "SYNTH:SYNTH MIDI 1");
}

// A part of a name finds the one port that has it; an address finds its port.
TEST_F(CliPorts, FindsByAPartOfTheNameOrTheAddress) {
  std::vector<TPort> ports = FPorts;
  ports.push_back({TPortDirection::Out, "Synth:Synth MIDI 2", 9, "20:1"});
  ports.push_back({TPortDirection::Out, "Nord:Nord Lead", 10, "24:0"});
  const struct {
    std::string Name;
    std::string Found; // empty: not found, with that error
    std::string Error;
  } cases[] = {
      {"desk", "Desk \"B\"\\2", ""},
      {"nord lead", "Nord:Nord Lead", ""},
      {"20:1", "Synth:Synth MIDI 2", ""},
      {"synth midi 1", "Synth:Synth MIDI 1", ""},
      {"synth", "",
       "the MIDI output \"synth\" is ambiguous: it matches \"Synth:Synth MIDI 1\", \"Synth:Synth "
       "MIDI 2\""},
  };
  for (const auto& c : cases) {
    const TPort* port = FindPort(ports, TPortDirection::Out, c.Name, FError);
    EXPECT_EQ(port != nullptr ? port->Name : FError, c.Found.empty() ? c.Error : c.Found)
        << c.Name;
  }
}

TEST_F(CliPorts, AnUnknownPortIsAnsweredWithThePortsThereAre) {
  EXPECT_EQ(FindPort(FPorts, TPortDirection::Out, "Nord", FError), nullptr);
  EXPECT_EQ(FError, "no MIDI output \"Nord\"; the outputs are \"Pelrow Loopback\", "
                    "\"Synth:Synth MIDI 1\", \"Desk \"B\"\\2\"");
  EXPECT_EQ(FindPort({}, TPortDirection::In, "Synth", FError), nullptr);
  EXPECT_EQ(FError, "no MIDI input \"Synth\"; there are no MIDI inputs");
}

} // namespace
} // namespace pelrow::cli
