// Any message at all sets off a sweep over every note: a short strike and a note-off for each
// note 0 to 127 in turn, so every voice is ended whatever state it was in. Nothing passes.
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

class Qv_allnotesofftrig : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };
    static constexpr uint8_t kStrikeVelocity = 1, kReleaseVelocity = 127;

    Qv_allnotesofftrig()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char*, int) override
    {
        for (int note = 0; note < midi::kNotes; ++note) {
            midi::send(midiOut_, midi::kNoteOn, static_cast<uint8_t>(note), kStrikeVelocity);
            midi::send(midiOut_, midi::kNoteOff, static_cast<uint8_t>(note), kReleaseVelocity);
        }
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
};

MP_REGISTER_MODULE(Qv_allnotesofftrig, L"QV_AllNotesOffTrig")
