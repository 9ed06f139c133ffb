// Cost of the program-change utilities chained behind the kind splitter on a dense MIDI stream,
// the lock-out gate with its per-piece sub-process among them (see MidiChainBench.h for what is
// reported).
#include "MidiChainBench.h"

namespace {

using midi_chain::makeChain;
using midi_chain::runChain;
using midi_chain::Stage;
using midi_chain::Stream;
using routing_bench::intEvent;

// The program-change side: the kind splitter, the delay behind the trigger note, the triggered
// controller buffer and the lock-out gate, on the same stream; then note-offs for every note on
// each program change, alone.
void BM_ProgramChangeChain(benchmark::State& state)
{
    auto chain = makeChain(std::make_unique<Stage>(L"QV_MidiMsgSeparate", std::vector{intEvent(6, 3)}),
                           std::make_unique<Stage>(L"QV_ProgChangeDelay", std::vector<mpapi::MpEvent>{}),
                           std::make_unique<Stage>(L"QV_CCTriggeredBuffer", std::vector<mpapi::MpEvent>{}),
                           std::make_unique<Stage>(L"QV_CtrlToPrgchGate",
                                                   std::vector{intEvent(2, 1), intEvent(3, 2), intEvent(4, 3),
                                                               intEvent(5, 4), intEvent(6, 5), intEvent(7, 6)}));
    Stream stream(static_cast<int>(state.range(0)));
    runChain(state, chain, stream);
}

} // namespace

BENCHMARK(BM_ProgramChangeChain)->Arg(4)->Arg(16)->Arg(64);
