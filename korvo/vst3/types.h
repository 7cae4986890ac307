#pragma once
// The VST3 binary interface's plain parts: basic types, result codes, interface identifiers,
// constants and structures, each structure's size and offsets pinned by static_asserts. See abi.h.
// Thread contract: declarations only.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KORVO_VST3_API __stdcall  // ignored on x64, kept for the record
#else
#define KORVO_VST3_API
#endif

namespace korvo::vst3 {

// ---- Basic types ----------------------------------------------------------------------------------

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using tresult = int32;
using TBool = uint8;
using char8 = char;
#if defined(_WIN32)
using char16 = wchar_t;
#else
using char16 = char16_t;
#endif
static_assert(sizeof(char16) == 2, "char16 must be a UTF-16 code unit");
using TChar = char16;
using String128 = TChar[128];
using TUID = char[16];
using FIDString = const char8*;
using CString = const char8*;
using ParamID = uint32;
using ParamValue = double;
using SampleRate = double;
using TSamples = int64;
using TQuarterNotes = double;
using SpeakerArrangement = uint64;
using UnitID = int32;
using ProgramListID = int32;
using MediaType = int32;
using BusDirection = int32;
using BusType = int32;
using IoMode = int32;
using KnobMode = int32;
using TimerInterval = uint64;  // milliseconds (Linux run loop)
using FileDescriptor = int;    // Linux run loop

// ---- Result codes ---------------------------------------------------------------------------------

#if defined(_WIN32)
inline constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = kResultOk;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
inline constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
inline constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);
inline constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFu);
inline constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);
#else
inline constexpr tresult kNoInterface = -1;
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = kResultOk;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = 2;
inline constexpr tresult kNotImplemented = 3;
inline constexpr tresult kInternalError = 4;
inline constexpr tresult kNotInitialized = 5;
inline constexpr tresult kOutOfMemory = 6;
#endif

// ---- Interface identifiers ------------------------------------------------------------------------

// 16 identifier bytes in this platform's memory order. data() is what crosses the interface.
struct Uid {
    std::uint8_t bytes[16];
    const char* data() const noexcept { return reinterpret_cast<const char*>(bytes); }
};

// The identifier declared as four words, laid out the way this platform stores it.
constexpr Uid makeUid(uint32 w1, uint32 w2, uint32 w3, uint32 w4) noexcept {
    Uid u{};
#if defined(_WIN32)
    u.bytes[0] = static_cast<std::uint8_t>(w1);
    u.bytes[1] = static_cast<std::uint8_t>(w1 >> 8);
    u.bytes[2] = static_cast<std::uint8_t>(w1 >> 16);
    u.bytes[3] = static_cast<std::uint8_t>(w1 >> 24);
    u.bytes[4] = static_cast<std::uint8_t>(w2 >> 16);
    u.bytes[5] = static_cast<std::uint8_t>(w2 >> 24);
    u.bytes[6] = static_cast<std::uint8_t>(w2);
    u.bytes[7] = static_cast<std::uint8_t>(w2 >> 8);
#else
    for (int i = 0; i < 4; ++i) {
        u.bytes[i] = static_cast<std::uint8_t>(w1 >> (24 - 8 * i));
        u.bytes[4 + i] = static_cast<std::uint8_t>(w2 >> (24 - 8 * i));
    }
#endif
    for (int i = 0; i < 4; ++i) {
        u.bytes[8 + i] = static_cast<std::uint8_t>(w3 >> (24 - 8 * i));
        u.bytes[12 + i] = static_cast<std::uint8_t>(w4 >> (24 - 8 * i));
    }
    return u;
}

// Compares 16 bytes; a null pointer matches nothing.
inline bool uidEquals(const char* a, const Uid& b) noexcept {
    if (a == nullptr) return false;
    for (int i = 0; i < 16; ++i)
        if (static_cast<std::uint8_t>(a[i]) != b.bytes[i]) return false;
    return true;
}

inline constexpr Uid iidFUnknown = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
inline constexpr Uid iidIPluginBase = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
inline constexpr Uid iidIPluginFactory = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
inline constexpr Uid iidIPluginFactory2 = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
inline constexpr Uid iidIPluginFactory3 = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
inline constexpr Uid iidIComponent = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
inline constexpr Uid iidIAudioProcessor = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
inline constexpr Uid iidIEditController = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
inline constexpr Uid iidIEditController2 = makeUid(0x7F4EFE59, 0xF3204967, 0xAC27A3AE, 0xAFB63038);
inline constexpr Uid iidIUnitInfo = makeUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);
inline constexpr Uid iidIComponentHandler = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
inline constexpr Uid iidIComponentHandler3 = makeUid(0x69F11617, 0xD26B400D, 0xA4B6B964, 0x7B6EBBAB);
inline constexpr Uid iidIContextMenuTarget = makeUid(0x3CDF2E75, 0x85D34144, 0xBF86D36B, 0xD7C4894D);
inline constexpr Uid iidIContextMenu = makeUid(0x2E93C863, 0x0C9C4588, 0x97DBECF5, 0xAD17817D);
inline constexpr Uid iidIComponentHandler2 = makeUid(0xF040B4B3, 0xA36045EC, 0xABCDC045, 0xB4D5A2CC);
inline constexpr Uid iidIBStream = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
inline constexpr Uid iidIHostApplication = makeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
inline constexpr Uid iidIParameterChanges = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
inline constexpr Uid iidIParamValueQueue = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
inline constexpr Uid iidIEventList = makeUid(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);
inline constexpr Uid iidIPlugView = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
inline constexpr Uid iidIPlugFrame = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
// The view's face through which a host hands over its content scale (HiDPI).
inline constexpr Uid iidIPlugViewContentScaleSupport =
    makeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
// The view's face through which a host finds the parameter under the mouse.
inline constexpr Uid iidIParameterFinder = makeUid(0x0F618302, 0x215D4587, 0xA512073C, 0x77B9D383);
// The host's run loop on Linux (queried on the IPlugFrame) and the plug-in's handlers it calls.
inline constexpr Uid iidIRunLoop = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
inline constexpr Uid iidIEventHandler = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
inline constexpr Uid iidITimerHandler = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);

// Byte order checks against the published memory forms.
#if defined(_WIN32)
static_assert(iidIComponent.bytes[0] == 0x31 && iidIComponent.bytes[3] == 0xE8 &&
              iidIComponent.bytes[4] == 0xD5 && iidIComponent.bytes[5] == 0xF2 &&
              iidIComponent.bytes[6] == 0x01 && iidIComponent.bytes[7] == 0x43 &&
              iidIComponent.bytes[8] == 0x92 && iidIComponent.bytes[15] == 0x02);
static_assert(iidIAudioProcessor.bytes[0] == 0x99 && iidIAudioProcessor.bytes[4] == 0xDA &&
              iidIAudioProcessor.bytes[7] == 0x45 && iidIAudioProcessor.bytes[12] == 0x9A);
static_assert(iidIPlugViewContentScaleSupport.bytes[0] == 0x90 &&
              iidIPlugViewContentScaleSupport.bytes[3] == 0x65 &&
              iidIPlugViewContentScaleSupport.bytes[4] == 0xC4 &&
              iidIPlugViewContentScaleSupport.bytes[15] == 0x3F);
static_assert(iidIParameterFinder.bytes[0] == 0x02 && iidIParameterFinder.bytes[3] == 0x0F &&
              iidIParameterFinder.bytes[4] == 0x5D && iidIParameterFinder.bytes[6] == 0x87 &&
              iidIParameterFinder.bytes[15] == 0x83);
#else
static_assert(iidIComponent.bytes[0] == 0xE8 && iidIComponent.bytes[3] == 0x31 &&
              iidIComponent.bytes[4] == 0xF2 && iidIComponent.bytes[5] == 0xD5 &&
              iidIComponent.bytes[6] == 0x43 && iidIComponent.bytes[7] == 0x01 &&
              iidIComponent.bytes[8] == 0x92 && iidIComponent.bytes[15] == 0x02);
static_assert(iidIAudioProcessor.bytes[0] == 0x42 && iidIAudioProcessor.bytes[4] == 0xB7 &&
              iidIAudioProcessor.bytes[7] == 0x3C && iidIAudioProcessor.bytes[12] == 0x9A);
static_assert(iidIRunLoop.bytes[0] == 0x18 && iidIRunLoop.bytes[3] == 0x66 && iidIRunLoop.bytes[4] == 0x97 &&
              iidIRunLoop.bytes[8] == 0x9C && iidIRunLoop.bytes[15] == 0x89);
static_assert(iidIPlugViewContentScaleSupport.bytes[0] == 0x65 &&
              iidIPlugViewContentScaleSupport.bytes[3] == 0x90 &&
              iidIPlugViewContentScaleSupport.bytes[4] == 0x8A &&
              iidIPlugViewContentScaleSupport.bytes[15] == 0x3F);
#endif
static_assert(iidFUnknown.bytes[8] == 0xC0 && iidFUnknown.bytes[15] == 0x46 && iidFUnknown.bytes[0] == 0);

// ---- Constants ------------------------------------------------------------------------------------

enum MediaTypes : int32 { kAudio = 0, kEvent = 1 };
enum BusDirections : int32 { kInput = 0, kOutput = 1 };
enum BusTypes : int32 { kMain = 0, kAux = 1 };
enum BusFlags : uint32 { kDefaultActive = 1u << 0 };
enum SymbolicSampleSizes : int32 { kSample32 = 0, kSample64 = 1 };
enum ProcessModes : int32 { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
enum KnobModes : int32 { kCircularMode = 0, kRelativCircularMode = 1, kLinearMode = 2 };
enum IStreamSeekMode : int32 { kIBSeekSet = 0, kIBSeekCur = 1, kIBSeekEnd = 2 };
enum RestartFlags : int32 {
    kReloadComponent = 1 << 0,
    kIoChanged = 1 << 1,
    kParamValuesChanged = 1 << 2,
    kLatencyChanged = 1 << 3,
    kParamTitlesChanged = 1 << 4,
};
enum ParameterFlags : int32 {
    kCanAutomate = 1 << 0,
    kIsReadOnly = 1 << 1,
    kIsWrapAround = 1 << 2,
    kIsList = 1 << 3,
    kIsHidden = 1 << 4,  // hosts older than 3.7 ignore it
    kIsProgramChange = 1 << 15,
    kIsBypass = 1 << 16,
};
enum StatesAndFlags : uint32 {
    kPlaying = 1u << 1,
    kCycleActive = 1u << 2,
    kRecording = 1u << 3,
    kSystemTimeValid = 1u << 8,
    kProjectTimeMusicValid = 1u << 9,
    kTempoValid = 1u << 10,
    kBarPositionValid = 1u << 11,
    kCycleValid = 1u << 12,
    kTimeSigValid = 1u << 13,
    kSmpteValid = 1u << 14,
    kClockValid = 1u << 15,
    kContTimeValid = 1u << 17,
    kChordValid = 1u << 18,
};
enum EventTypes : uint16 { kNoteOnEvent = 0, kNoteOffEvent = 1 };
enum FactoryFlags : int32 { kNoFlags = 0, kClassesDiscardable = 1 << 0, kUnicode = 1 << 4 };
enum ComponentFlags : uint32 { kDistributable = 1u << 0, kSimpleModeSupported = 1u << 1 };

inline constexpr int32 kManyInstances = 0x7FFFFFFF;
inline constexpr UnitID kRootUnitId = 0;
inline constexpr UnitID kNoParentUnitId = -1;
inline constexpr ProgramListID kNoProgramListId = -1;
inline constexpr ParamID kNoParamId = 0xFFFFFFFFu;
inline constexpr SpeakerArrangement kSpeakerL = 1u << 0;
inline constexpr SpeakerArrangement kSpeakerR = 1u << 1;
inline constexpr SpeakerArrangement kSpeakerM = 1u << 19;
inline constexpr SpeakerArrangement kArrMono = kSpeakerM;
inline constexpr SpeakerArrangement kArrStereo = kSpeakerL | kSpeakerR;
inline constexpr const char* kVstAudioEffectClass = "Audio Module Class";
inline constexpr const char* kVstVersionString = "VST 3.6.11";
inline constexpr const char* kEditorViewType = "editor";
inline constexpr const char* kPlatformTypeHWND = "HWND";                          // parent: an HWND
inline constexpr const char* kPlatformTypeX11EmbedWindowID = "X11EmbedWindowID";  // parent: an X11 Window id
inline constexpr const char* kPlatformTypeNSView = "NSView";

// ---- Structures -----------------------------------------------------------------------------------

#if defined(_WIN32)
#pragma pack(push, 16)
#endif

struct PFactoryInfo {
    char8 vendor[64];
    char8 url[256];
    char8 email[128];
    int32 flags;
};

struct PClassInfo {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char8 name[64];
};

struct PClassInfo2 {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char8 name[64];
    uint32 classFlags;
    char8 subCategories[128];
    char8 vendor[64];
    char8 version[64];
    char8 sdkVersion[64];
};

struct PClassInfoW {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char16 name[64];
    uint32 classFlags;
    char8 subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};

struct BusInfo {
    MediaType mediaType;
    BusDirection direction;
    int32 channelCount;
    String128 name;
    BusType busType;
    uint32 flags;
};

struct RoutingInfo {
    MediaType mediaType;
    int32 busIndex;
    int32 channel;
};

struct ParameterInfo {
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32 flags;
};

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    SampleRate sampleRate;
};

struct AudioBusBuffers {
    int32 numChannels;
    uint64 silenceFlags;
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

struct Chord {
    uint8 keyNote;
    uint8 rootNote;
    int16 chordMask;
};

struct FrameRate {
    uint32 framesPerSecond;
    uint32 flags;
};

struct ProcessContext {
    uint32 state;
    double sampleRate;
    TSamples projectTimeSamples;
    int64 systemTime;
    TSamples continousTimeSamples;
    TQuarterNotes projectTimeMusic;
    TQuarterNotes barPositionMusic;
    TQuarterNotes cycleStartMusic;
    TQuarterNotes cycleEndMusic;
    double tempo;
    int32 timeSigNumerator;
    int32 timeSigDenominator;
    Chord chord;
    int32 smpteOffsetSubframes;
    FrameRate frameRate;
    int32 samplesToNextClock;
};

struct NoteOnEvent {
    int16 channel;
    int16 pitch;
    float tuning;
    float velocity;
    int32 length;
    int32 noteId;
};

struct NoteOffEvent {
    int16 channel;
    int16 pitch;
    float velocity;
    int32 noteId;
    float tuning;
};

struct Event {
    int32 busIndex;
    int32 sampleOffset;
    TQuarterNotes ppqPosition;
    uint16 flags;
    uint16 type;
    union {
        NoteOnEvent noteOn;
        NoteOffEvent noteOff;
        // The largest member (a text event) is 24 bytes, 8-aligned.
        struct {
            uint64 words[3];
        } raw;
    };
};

class IParameterChanges;
class IEventList;

struct ProcessData {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 numSamples;
    int32 numInputs;
    int32 numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

struct UnitInfo {
    UnitID id;
    UnitID parentUnitId;
    String128 name;
    ProgramListID programListId;
};

struct ProgramListInfo {
    ProgramListID id;
    String128 name;
    int32 programCount;
};

struct ViewRect {
    int32 left;
    int32 top;
    int32 right;
    int32 bottom;
};

#if defined(_WIN32)
#pragma pack(pop)
#endif

static_assert(sizeof(PFactoryInfo) == 452 && alignof(PFactoryInfo) == 4);
static_assert(offsetof(PFactoryInfo, url) == 64 && offsetof(PFactoryInfo, email) == 320 &&
              offsetof(PFactoryInfo, flags) == 448);
static_assert(sizeof(PClassInfo) == 116 && alignof(PClassInfo) == 4);
static_assert(offsetof(PClassInfo, cardinality) == 16 && offsetof(PClassInfo, category) == 20 &&
              offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo2) == 440 && alignof(PClassInfo2) == 4);
static_assert(offsetof(PClassInfo2, classFlags) == 116 && offsetof(PClassInfo2, subCategories) == 120 &&
              offsetof(PClassInfo2, vendor) == 248 && offsetof(PClassInfo2, version) == 312 &&
              offsetof(PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(PClassInfoW) == 696 && alignof(PClassInfoW) == 4);
static_assert(offsetof(PClassInfoW, name) == 52 && offsetof(PClassInfoW, classFlags) == 180 &&
              offsetof(PClassInfoW, subCategories) == 184 && offsetof(PClassInfoW, vendor) == 312 &&
              offsetof(PClassInfoW, version) == 440 && offsetof(PClassInfoW, sdkVersion) == 568);
static_assert(sizeof(BusInfo) == 276 && alignof(BusInfo) == 4);
static_assert(offsetof(BusInfo, channelCount) == 8 && offsetof(BusInfo, name) == 12 &&
              offsetof(BusInfo, busType) == 268 && offsetof(BusInfo, flags) == 272);
static_assert(sizeof(RoutingInfo) == 12);
static_assert(sizeof(ParameterInfo) == 792 && alignof(ParameterInfo) == 8);
static_assert(offsetof(ParameterInfo, title) == 4 && offsetof(ParameterInfo, shortTitle) == 260 &&
              offsetof(ParameterInfo, units) == 516 && offsetof(ParameterInfo, stepCount) == 772 &&
              offsetof(ParameterInfo, defaultNormalizedValue) == 776 &&
              offsetof(ParameterInfo, unitId) == 784 && offsetof(ParameterInfo, flags) == 788);
static_assert(sizeof(ProcessSetup) == 24 && offsetof(ProcessSetup, maxSamplesPerBlock) == 8 &&
              offsetof(ProcessSetup, sampleRate) == 16);
static_assert(sizeof(AudioBusBuffers) == 24 && offsetof(AudioBusBuffers, silenceFlags) == 8 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(sizeof(ProcessContext) == 112 && alignof(ProcessContext) == 8);
static_assert(offsetof(ProcessContext, sampleRate) == 8 &&
              offsetof(ProcessContext, projectTimeSamples) == 16 &&
              offsetof(ProcessContext, systemTime) == 24 &&
              offsetof(ProcessContext, continousTimeSamples) == 32 &&
              offsetof(ProcessContext, projectTimeMusic) == 40 && offsetof(ProcessContext, tempo) == 72 &&
              offsetof(ProcessContext, timeSigNumerator) == 80 && offsetof(ProcessContext, chord) == 88 &&
              offsetof(ProcessContext, smpteOffsetSubframes) == 92 &&
              offsetof(ProcessContext, frameRate) == 96 &&
              offsetof(ProcessContext, samplesToNextClock) == 104);
static_assert(sizeof(Event) == 48 && alignof(Event) == 8 && offsetof(Event, flags) == 16 &&
              offsetof(Event, type) == 18 && offsetof(Event, noteOn) == 24);
static_assert(sizeof(NoteOnEvent) == 20 && offsetof(NoteOnEvent, velocity) == 8 &&
              offsetof(NoteOnEvent, noteId) == 16);
static_assert(sizeof(NoteOffEvent) == 16 && offsetof(NoteOffEvent, noteId) == 8);
static_assert(sizeof(ProcessData) == 80 && offsetof(ProcessData, inputs) == 24 &&
              offsetof(ProcessData, outputs) == 32 && offsetof(ProcessData, inputParameterChanges) == 40 &&
              offsetof(ProcessData, inputEvents) == 56 && offsetof(ProcessData, processContext) == 72);
static_assert(sizeof(UnitInfo) == 268 && offsetof(UnitInfo, name) == 8 &&
              offsetof(UnitInfo, programListId) == 264);
static_assert(sizeof(ProgramListInfo) == 264 && offsetof(ProgramListInfo, name) == 4 &&
              offsetof(ProgramListInfo, programCount) == 260);
static_assert(sizeof(ViewRect) == 16);

}  // namespace korvo::vst3
