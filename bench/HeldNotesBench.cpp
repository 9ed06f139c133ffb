// Cost of the retrigger's answer on a dense MIDI stream: 128 note-offs and every held note
// struck again per note-on (see MidiChainBench.h for what is reported).
#include "MidiChainBench.h"

namespace {

using midi_chain::makeChain;
using midi_chain::runChain;
using midi_chain::Stage;
using midi_chain::Stream;
using routing_bench::intEvent;

// The heaviest answer: every note-on at mode 3 sends 128 note-offs and re-strikes every held
// note.
void BM_RetriggerEveryNoteOn(benchmark::State& state)
{
    auto chain = makeChain(std::make_unique<Stage>(L"QV_NoteOnRetrig", std::vector{intEvent(2, 3)}));
    Stream stream(static_cast<int>(state.range(0)));
    runChain(state, chain, stream);
}

} // namespace

BENCHMARK(BM_RetriggerEveryNoteOn)->Arg(4)->Arg(16);
