// Rewrites a MIDI stream by up to ten text rules, one per text pin. Besides the channel messages
// the rules see NRPN and RPN as single messages: the controller sequences 99/98 and 101/100
// (parameter number), 6/38 (data entry) and 96/97 (increment, decrement) are assembled on the way
// in and taken apart into controllers again on the way out.
#include "Midi/MidiBytes.h"
#include "Midi/MidiRules.h"
#include "MpProcessing.h"

#include <array>

using namespace midi_rules;

class Qv_midiconverter : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kRule0 };  // kRule0 + k: rule k, 0..9
    static constexpr int kRules = 10;
    static constexpr int kQueue = 5;

    enum Controller : int32_t {
        kDataEntryMsb = 6,
        kDataEntryLsb = 38,
        kIncrement = 96,
        kDecrement = 97,
        kNrpnLsb = 98,
        kNrpnMsb = 99,
        kRpnLsb = 100,
        kRpnMsb = 101,
    };

    Qv_midiconverter()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        for (int k = 0; k < kRules; ++k)
            initializePin(kRule0 + k, ruleIn_[static_cast<std::size_t>(k)]);
        fullReset();
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_midiconverter::subProcessNothing);
        return 0;
    }

    void onSetPins() override { buildRules(); }

    // The table is built in place from the texts of the updated pins; nothing is allocated.
    void buildRules()
    {
        for (int k = 0; k < kRules; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (ruleIn_[i].isUpdated)
                ruleText(ruleIn_[i].value, ruleTexts_[i]);
        }
        for (int k = 0; k < kRules; ++k)
            updateRuleTable(k, ruleTexts_[static_cast<std::size_t>(k)]);
        haveRules_ = true;
    }

    void updateRuleTable(int index, const char* text)
    {
        const auto i = static_cast<std::size_t>(index);
        rules_[i] = parseRule(text);
        if (rules_[i] && index > highestComplete_)
            highestComplete_ = index;
    }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        // MIDI is handled before onSetPins: the rules that arrive with the first messages (a
        // patch's first block) are built first, so a note and its release meet the same rules.
        if (!haveRules_)
            buildRules();
        // System messages leave whole, at their own length; rules and the parameter-number
        // assembly never see them.
        const midi::Message m = midi::Message::read(bytes, size);
        if (m.status >= midi::kSystem) {
            midiOut_.send(bytes, size);
            return;
        }
        // A data byte of 0x80 or more (an event that is one such message, as the preset managers'
        // program number 130) holds no number a rule could map, and clamping it would make a
        // message nobody sent: it leaves as it came, on channel 1, unseen by the rules and the
        // parameter-number assembly.
        if (!midi::isTableIndex(m.data1) || !midi::isTableIndex(m.data2)) {
            midi::sendAtLength(midiOut_, m.kind(), m.data1, m.data2);
            return;
        }
        const Message msg{m.kind(), m.status & 0x0F, m.data1, m.data2, size};
        if (queued_ == 0 && !(m.isController() && isCompositePart(m.data1)))
            processMsg(msg, false);
        else
            buildMacroMsg(msg);
    }

private:
    // One piece of a composite message as last sent.
    struct Piece {
        int32_t status = 0;
        int32_t channel = 0;
        int32_t controller = 0;
        int32_t value = 0;
        bool operator==(const Piece&) const = default;
    };

    static bool isCompositePart(int32_t controller)
    {
        return (controller >= kIncrement && controller <= kRpnMsb) || controller == kDataEntryMsb ||
               controller == kDataEntryLsb;
    }

    // ---- Rules ----------------------------------------------------------------------------------

    void processMsg(const Message& msg, bool internal)
    {
        if (haveRules_) {
            for (int k = 0; k <= highestComplete_; ++k) {
                const auto& rule = rules_[static_cast<std::size_t>(k)];
                if (!rule || !matchesRule(msg, *rule, internal))
                    continue;
                if (rule->outStatus == kDiscard)
                    return;
                const Message out = processRule(msg, *rule);
                emit(out);
                if (rule->continueFlag == 'N')
                    return;
            }
        }
        emit(msg);
    }

    // Sends a record: composite kinds as their controllers, the rest at its own length on channel 1.
    void emit(const Message& out)
    {
        if (isComposite(out.status)) {
            processMacroMsg(out);
            return;
        }
        midi::sendAtLength(midiOut_, static_cast<uint8_t>(out.status & 0xFF), midi::clampData(out.data1),
                         midi::clampData(out.data2));
    }

    // ---- Composite output -----------------------------------------------------------------------

    void processMacroMsg(const Message& msg)
    {
        const int32_t number = clamp14(msg.data1);
        const int32_t value = clamp14(msg.data2);
        const bool rpn = msg.status >= kRpn;
        const Piece msb{kCtrl, msg.channel, rpn ? kRpnMsb : kNrpnMsb, number / 128};
        const Piece lsb{kCtrl, msg.channel, rpn ? kRpnLsb : kNrpnLsb, number % 128};
        if (!(msb == parameterMsbSent_) || !(lsb == parameterLsbSent_)) {
            parameterMsbSent_ = msb;
            parameterLsbSent_ = lsb;
            sendPiece(msb);
            sendPiece(lsb);
        }
        switch (msg.status) {
        case kNrpn:
        case kRpn: {
            const Piece dataMsb{kCtrl, msg.channel, kDataEntryMsb, value / 128};
            if (!(dataMsb == dataMsbSent_)) {
                dataMsbSent_ = dataMsb;
                sendPiece(dataMsb);
            }
            const Piece dataLsb{kCtrl, msg.channel, kDataEntryLsb, value % 128};
            if (!(dataLsb == dataLsbSent_)) {
                dataLsbSent_ = dataLsb;
                sendPiece(dataLsb);
            }
            break;
        }
        case kNrpnIncrement:
        case kRpnIncrement:
            sendPiece({kCtrl, msg.channel, kIncrement, midi::clampData(msg.data2)});
            break;
        default:
            sendPiece({kCtrl, msg.channel, kDecrement, midi::clampData(msg.data2)});
            break;
        }
    }

    void sendPiece(const Piece& p) { processMsg({p.status, p.channel, p.controller, p.value, 3}, true); }

    static int32_t clamp14(int32_t v) { return v < 0 ? 0 : v > kMax14Bit ? kMax14Bit : v; }

    // ---- Composite assembly ---------------------------------------------------------------------

    void buildMacroMsg(const Message& msg)
    {
        const int32_t c = msg.data1;
        if (msg.status != kCtrl || (pendingChannel_ != kNoChannel && msg.channel != pendingChannel_) ||
            !isCompositePart(c)) {
            if (valuePending_)
                assembleMacroMsg();
            else
                flushQueuedMsgs();
            fullReset();
            lastController_ = 0;
            processMsg(msg, false);
            return;
        }
        if (pendingKind_ == 0)
            beginSelection(msg);
        else if (c >= kNrpnLsb && c <= kRpnMsb)
            selectParameter(msg);
        else if (c == kIncrement || c == kDecrement)
            stepValue(msg);
        else
            enterData(msg);
        lastController_ = c;
    }

    void beginSelection(const Message& msg)
    {
        const int32_t c = msg.data1;
        if (c >= kNrpnLsb && c <= kRpnMsb) {
            pendingKind_ = recordStatus_ = c <= kNrpnMsb ? kNrpn : kRpn;
            if (c == kNrpnLsb || c == kRpnLsb) {
                parameterLsbSeen_ = true;
                parameterLsb_ = msg.data2;
            } else {
                parameterMsbSeen_ = true;
                parameterMsb_ = msg.data2;
            }
            append(msg);
            pendingChannel_ = msg.channel;
        } else {
            processMsg(msg, false);
        }
    }

    // Controllers 98, 99 (NRPN) and 100, 101 (RPN): a parameter number piece.
    void selectParameter(const Message& msg)
    {
        const int32_t c = msg.data1;
        const int32_t kind = c <= kNrpnMsb ? kNrpn : kRpn;
        const bool isLsb = c == kNrpnLsb || c == kRpnLsb;
        const int32_t partner = isLsb ? c + 1 : c - 1;
        if (queued_ > 0) {
            if (valuePending_)
                assembleMacroMsg();
            else if (pendingKind_ != kind || lastController_ == c)
                flushQueuedMsgs();
        }
        if (lastController_ != c && lastController_ != partner) {
            if (pendingKind_ != kind)
                fullReset();
            else
                clearValue();
            dataMsbSent_ = dataLsbSent_ = Piece{};
            (isLsb ? parameterLsbSeen_ : parameterMsbSeen_) = true;
        } else if (lastController_ == partner || (isLsb ? parameterMsbSeen_ : parameterLsbSeen_)) {
            selectionComplete_ = true;
        }
        (isLsb ? parameterLsb_ : parameterMsb_) = msg.data2;
        pendingChannel_ = msg.channel;
        append(msg);
        pendingKind_ = recordStatus_ = kind;
        valueMsbSeen_ = valueLsbSeen_ = valuePending_ = false;
    }

    // Controllers 96 and 97: one step up or down of the selected parameter.
    void stepValue(const Message& msg)
    {
        if (queued_ > 0) {
            if (valuePending_)
                assembleMacroMsg();
            else if (!selectionComplete_)
                flushQueuedMsgs();
        }
        clearValue();
        dataMsbSent_ = dataLsbSent_ = Piece{};
        if (selectionComplete_) {
            recordStatus_ = pendingKind_ + (msg.data1 == kIncrement ? 1 : 2);
            valueMsb_ = 0;
            valueLsb_ = msg.data2;
            assembleMacroMsg();
        } else {
            processMsg(msg, false);
        }
    }

    // Controllers 6 and 38: the value's MSB or LSB.
    void enterData(const Message& msg)
    {
        const bool isMsb = msg.data1 == kDataEntryMsb;
        const int32_t self = msg.data1;
        const int32_t other = isMsb ? kDataEntryLsb : kDataEntryMsb;
        int32_t& field = isMsb ? valueMsb_ : valueLsb_;
        int32_t& otherField = isMsb ? valueLsb_ : valueMsb_;
        bool& seen = isMsb ? valueMsbSeen_ : valueLsbSeen_;
        const bool otherSeen = isMsb ? valueLsbSeen_ : valueMsbSeen_;
        if (!otherSeen)
            otherField = 0;
        if (valuePending_) {
            if (queued_ == 0 || lastController_ != self) {
                field = msg.data2;
                if (lastController_ == other || otherSeen) {
                    assembleMacroMsg();
                    seen = true;
                    return;
                }
            } else {
                assembleMacroMsg();
                field = msg.data2;
            }
        } else {
            if (!selectionComplete_) {
                flushQueuedMsgs();
                fullReset();
                processMsg(msg, false);
                (isMsb ? valueMsbSeen_ : valueLsbSeen_) = true;
                return;
            }
            valuePending_ = true;
            field = msg.data2;
        }
        append(msg);
        seen = true;
    }

    void assembleMacroMsg()
    {
        const Message msg{recordStatus_, pendingChannel_, parameterMsb_ * 128 + parameterLsb_, valueMsb_ * 128 + valueLsb_, 1};
        processMsg(msg, false);
        queued_ = 0;
        if (recordStatus_ == kNrpnIncrement || recordStatus_ == kNrpnDecrement)
            recordStatus_ = kNrpn;
        else if (recordStatus_ == kRpnIncrement || recordStatus_ == kRpnDecrement)
            recordStatus_ = kRpn;
    }

    void flushQueuedMsgs()
    {
        const int count = queued_;
        queued_ = 0;
        for (int i = 0; i < count; ++i) {
            Message m = queue_[static_cast<std::size_t>(i)];
            m.size = 0;
            processMsg(m, false);
        }
    }

    // A full queue is let out first, so no raw controller is ever lost.
    void append(const Message& msg)
    {
        if (queued_ == kQueue)
            flushQueuedMsgs();
        queue_[static_cast<std::size_t>(queued_++)] = msg;
    }

    void clearValue()
    {
        valueMsbSeen_ = valueLsbSeen_ = valuePending_ = false;
        valueLsb_ = valueMsb_ = 0;
    }

    void fullReset()
    {
        pendingKind_ = 0;
        queued_ = 0;
        recordStatus_ = parameterLsb_ = parameterMsb_ = valueLsb_ = valueMsb_ = 0;
        pendingChannel_ = kNoChannel;
        parameterMsbSeen_ = parameterLsbSeen_ = selectionComplete_ = false;
        valueMsbSeen_ = valueLsbSeen_ = valuePending_ = false;
        parameterMsbSent_ = parameterLsbSent_ = dataMsbSent_ = dataLsbSent_ = Piece{};
    }

    static constexpr int32_t kNoChannel = -2;

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    std::array<StringInPin, kRules> ruleIn_;

    std::array<char[kRuleTextBytes + 1], kRules> ruleTexts_{};  // the pins' texts in UTF-8
    std::array<std::optional<Rule>, kRules> rules_{};            // nothing: cleared rule
    bool haveRules_ = false;                                     // no table before the first pin update
    int highestComplete_ = 0;                                    // never decreases

    // Composite assembly.
    int32_t pendingKind_ = 0;  // 0, kNrpn or kRpn
    int32_t recordStatus_ = 0;
    int32_t parameterLsb_ = 0, parameterMsb_ = 0;
    int32_t valueLsb_ = 0, valueMsb_ = 0;
    int32_t pendingChannel_ = kNoChannel;
    bool parameterMsbSeen_ = false, parameterLsbSeen_ = false, selectionComplete_ = false;
    bool valueMsbSeen_ = false, valueLsbSeen_ = false, valuePending_ = false;
    int32_t lastController_ = 0;
    std::array<Message, kQueue> queue_{};  // raw controllers taken in
    int queued_ = 0;

    // The composite pieces last sent.
    Piece parameterMsbSent_, parameterLsbSent_, dataMsbSent_, dataLsbSent_;
};

MP_REGISTER_MODULE(Qv_midiconverter, L"QV_MidiConverter")
