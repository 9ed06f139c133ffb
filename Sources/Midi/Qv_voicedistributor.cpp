// Spreads the notes of one MIDI input over twelve outputs, one per synth voice, or broadcasts
// every message to a set of outputs.
#include "Midi/VoiceDistributor.h"

class Qv_voicedistributor : public VoiceDistributor {};

MP_REGISTER_MODULE(Qv_voicedistributor, L"QV_VoiceDistributor")
