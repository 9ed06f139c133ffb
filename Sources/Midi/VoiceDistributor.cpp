#include "Midi/VoiceDistributor.h"

namespace {

int clampCount(int32_t value, int most) { return value < 0 ? 0 : value > most ? most : value; }

} // namespace

VoiceDistributor::VoiceDistributor()
{
    initializePin(kMidiIn, midiIn_);
    for (int o = 0; o < kVoices; ++o)
        initializePin(kOut1 + o, out_[static_cast<std::size_t>(o)]);
    initializePin(kMode, mode_);
    initializePin(kVoiceCount, voiceCount_);
    initializePin(kBroadcastCount, broadcastCount_);
    for (int g = 0; g < kGates; ++g)
        initializePin(kGate1 + g, gate_[static_cast<std::size_t>(g)]);
    free_.fill(1);
}

void VoiceDistributor::resetVoices()
{
    free_.fill(1);
    pointer_ = 1;
}

void VoiceDistributor::onMidiMessage(int, unsigned char* bytes, int size)
{
    const midi::Message raw = midi::Message::read(bytes, size);
    Incoming m{raw.isSystem() ? raw.status : raw.kind(), raw.data1, raw.data2};
    if (raw.isNoteOff())
        m.status = midi::kNoteOff;
    // Counts beyond the outputs that exist have nothing behind them.
    const int voices = clampCount(voiceCount_.value, kVoices);
    const int outputs = clampCount(broadcastCount_.value, kMaxBroadcast);
    bookkeeping(m, voices, outputs);
    if (mode_.value < 0)
        distribute(m, voices, outputs);
    else
        broadcast(m, outputs);
    if (m.status == midi::kNoteOff)
        endWhereStillSounding(m);
}

// Switching between the modes ends the notes the other mode's upper outputs may still hold.
void VoiceDistributor::bookkeeping(const Incoming& m, int voices, int outputs)
{
    if (mode_.value < 0) {
        if (voices >= 8)
            upperVoices_ = true;
        return;
    }
    if (outputs >= 7)
        upperOutputs_ = true;
    if (upperVoices_) {
        for (int o = 7; o <= kVoices; ++o) {
            for (int v = 1; v <= kVoices; ++v)
                sendTo(o, midi::kNoteOff, static_cast<uint8_t>(memory_[static_cast<std::size_t>(v)]), m.value);
            free_[static_cast<std::size_t>(o)] = 1;
        }
        upperVoices_ = false;
    }
    if (outputs <= 6 && upperOutputs_) {
        for (int k = 0; k < midi::kNotes; ++k) {
            sendTo(9, midi::kNoteOff, static_cast<uint8_t>(k), m.value);
            sendTo(10, midi::kNoteOff, static_cast<uint8_t>(k), m.value);
        }
        upperOutputs_ = false;
    }
}

void VoiceDistributor::distribute(const Incoming& m, int voices, int outputs)
{
    const bool noteOff = m.status == midi::kNoteOff;
    // A voice above a lowered count that still holds this note is released on every such output.
    if (noteOff && voices <= 8) {
        for (int i = voices + 1; i <= kVoices; ++i) {
            const auto v = static_cast<std::size_t>(i);
            if (free_[v] || memory_[v] != m.note)
                continue;
            for (int o = voices + 1; o <= kVoices; ++o)
                sendTo(o, midi::kNoteOff, m.note, m.value);
            free_[v] = 1;
        }
    }
    // The last broadcast note is released where it was broadcast.
    if (broadcastNote_ && noteOff && m.note == lastNote_) {
        for (int i = 1; i <= outputs; ++i)
            sendTo(outputOfPosition(i, outputs), midi::kNoteOff, m.note, m.value);
        broadcastNote_ = false;
    }
    if (m.status == midi::kNoteOn) {
        noteOn(m, voices);
        return;
    }
    if (!noteOff)
        return;
    for (int i = 1; i <= voices; ++i) {
        const auto v = static_cast<std::size_t>(i);
        if (memory_[v] == m.note)
            free_[v] = 1;
        sendTo(outputOfVoice(i, voices), midi::kNoteOff, m.note, m.value);
    }
}

void VoiceDistributor::noteOn(const Incoming& m, int voices)
{
    beforeVoiceSearch();
    auto take = [&](int w) {
        const auto v = static_cast<std::size_t>(w);
        sendTo(outputOfVoice(w, voices), midi::kNoteOn, m.note, m.value);
        memory_[v] = m.note;
        free_[v] = 0;
    };
    if (voices > 0) {
        const int32_t remembered = pointer_;
        bool taken = false;
        bool abandoned = false;
        for (int pass = 0; pass <= voices; ++pass) {
            const int w = walk(pointer_, voices);
            if (w == 0) {
                abandoned = true;  // every gate closed
                break;
            }
            pointer_ = w;
            if (w <= voices && free_[static_cast<std::size_t>(w)]) {
                take(w);
                taken = true;
                break;
            }
            pointer_ = w < voices ? w + 1 : 1;
        }
        if (!taken && !abandoned) {
            // No free voice: steal the one the chain reaches from where the search began, without
            // a note-off for the note it held.
            pointer_ = remembered;
            pointer_ = walk(pointer_, voices);
            if (pointer_ <= voices)
                take(pointer_);
        }
    }
    pointer_ = pointer_ < voices ? pointer_ + 1 : 1;
}

void VoiceDistributor::broadcast(const Incoming& m, int outputs)
{
    for (int i = 1; i <= outputs; ++i) {
        const int o = outputOfPosition(i, outputs);
        if (!gateClosed(gatePinOfOutput(o)))
            sendTo(o, m.status, m.note, m.value);
    }
    // Gated outputs hear a note-off of the note broadcast before.
    const auto last = static_cast<uint8_t>(lastNote_);
    if (outputs <= 6) {
        for (int o = 1; o <= 6; ++o)
            if (gateClosed(gatePinOfOutput(o)))
                sendTo(o, midi::kNoteOff, last, 0);
    } else {
        for (int o : {9, 10})
            if (gateClosed(gatePinOfOutput(o)))
                sendTo(o, midi::kNoteOff, last, 0);
    }
    free_.fill(1);
    broadcastNote_ = true;
    if (m.status == midi::kNoteOn)
        lastNote_ = m.note;
}

// The steps above miss outputs a closed gate skipped, outputs beyond a count lowered while the
// key was down, and those of the mode left behind: the released note would hang there.
void VoiceDistributor::endWhereStillSounding(const Incoming& m)
{
    const midi::Message off{midi::kNoteOff, m.note, m.value};
    for (int o = 1; o <= kVoices; ++o)
        if (sounding_[static_cast<std::size_t>(o - 1)].ends(off))
            sendTo(o, midi::kNoteOff, m.note, m.value);
}

int VoiceDistributor::gatePinOfPosition(int q, int voices) const
{
    if (voices == 8 && (q == 7 || q == 8))
        return q == 7 ? kGate1 + 2 : kGate1 + 3;
    return kGate1 + (q - 1) % kGates;
}

bool VoiceDistributor::gateClosed(int gatePin) const
{
    return gate_[static_cast<std::size_t>(gatePin - kGate1)].value >= kClosed;
}

int VoiceDistributor::walk(int p, int voices) const
{
    bool allClosed = true;
    for (const auto& g : gate_)
        allClosed = allClosed && g.value >= kClosed;
    if (allClosed)
        return 0;
    int q = p < 1 || p > kVoices ? 1 : p;
    // With one gate open the chain reaches it within two rounds of the twelve positions.
    for (int step = 0; step < 2 * kVoices && gateClosed(gatePinOfPosition(q, voices)); ++step) {
        if (q == 6)
            q = voices == 6 ? 1 : 7;
        else
            q = q == kVoices ? 1 : q + 1;
    }
    return q;
}

void VoiceDistributor::sendTo(int output, uint8_t status, uint8_t data1, uint8_t data2)
{
    const auto index = static_cast<std::size_t>(output - 1);
    sounding_[index].send(out_[index], {status, data1, data2});
}
