// Cost of note-offs for every note on each program change, alone on a dense MIDI stream (see
// MidiChainBench.h for what is reported).
#include "MidiChainBench.h"

namespace {

using midi_chain::makeChain;
using midi_chain::runChain;
using midi_chain::Stage;
using midi_chain::Stream;

void BM_ProgChangeNoteoff(benchmark::State& state)
{
    auto chain = makeChain(std::make_unique<Stage>(L"QV_ProgChangeNoteoff", std::vector<mpapi::MpEvent>{}));
    Stream stream(static_cast<int>(state.range(0)));
    runChain(state, chain, stream);
}

} // namespace

BENCHMARK(BM_ProgChangeNoteoff)->Arg(16);
