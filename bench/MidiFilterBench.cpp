// Cost of the MIDI filters and note utilities chained from keyboard to synth on a dense MIDI
// stream (see MidiChainBench.h for what is reported).
#include "MidiChainBench.h"

namespace {

using midi_chain::makeChain;
using midi_chain::runChain;
using midi_chain::Stage;
using midi_chain::Stream;
using routing_bench::floatEvent;
using routing_bench::intEvent;

// The line from keyboard to synth: pass-through switch, the pan/volume pair filter, the learn
// window, CC 7 blocked, last note only, the retrigger with its level output (mode 1), and the
// feedback filter that absorbs the controller burst after each program change.
void BM_MidiUtilityChain(benchmark::State& state)
{
    auto chain = makeChain(std::make_unique<Stage>(L"QV_MidiThroughPasser", std::vector{intEvent(2, 3)}),
                           std::make_unique<Stage>(L"QV_CubaseBugFilter", std::vector<mpapi::MpEvent>{}),
                           std::make_unique<Stage>(L"QV_CCLearnFilter", std::vector<mpapi::MpEvent>{}),
                           std::make_unique<Stage>(L"QV_BlockController", std::vector{intEvent(2, 8)}),
                           std::make_unique<Stage>(L"QV_NoHold", std::vector{intEvent(2, 3)}),
                           std::make_unique<Stage>(L"QV_NoteOnRetrigGate",
                                                   std::vector{intEvent(2, 1), floatEvent(4, 100.0f)}),
                           std::make_unique<Stage>(L"QV_CCFeedbackFilter", std::vector<mpapi::MpEvent>{}));
    Stream stream(static_cast<int>(state.range(0)));
    runChain(state, chain, stream);
}

} // namespace

BENCHMARK(BM_MidiUtilityChain)->Arg(4)->Arg(16)->Arg(64);
