#pragma once

// Every key of section "Main" with its default, so no caller repeats a key string or a default.

struct BoolSetting {
    const char16_t* name;
    bool defaultValue;
};

struct IntSetting {
    const char16_t* name;
    int defaultValue;
};

struct ListSetting {
    const char16_t* name; // keys are name + "ListCount" and name + "List0", "List1", ...
};

namespace Settings {

inline constexpr ListSetting Alarms{u"Alarms"};
inline constexpr BoolSetting FirstStarted{u"FirstStarted", false};
inline constexpr BoolSetting ShowFloatingWindow{u"ShowFloatingWindow", false};
inline constexpr BoolSetting StayOnTop{u"StayOnTop", false};
inline constexpr BoolSetting HideDonate{u"HideDonate", false};
inline constexpr BoolSetting IsSingleLine{u"IsSingleLine", false};
inline constexpr BoolSetting FloatingOnTop{u"FloatingOnTop", true};
// Default: the language chosen from the system's locale; callers pass it.
inline constexpr IntSetting Language{u"Language", 9};
inline constexpr IntSetting SnoozeTime{u"SnoozeTime", 540}; // seconds
// Menu index: until closed, 1, 5, 10, 30, 60 minutes.
inline constexpr IntSetting PlaySoundDuration{u"PlaySoundDuration", 0};
// Minutes an alarm that fell due while nothing could ring it may still ring late: 0, 5, 15, 30 or 60.
inline constexpr IntSetting MissedAlarmLimit{u"MissedAlarmLimit", 15};
// Missed occurrences not acknowledged yet, "yyyy-MM-ddTHH:mm label".
inline constexpr ListSetting MissedAlarms{u"MissedAlarms"};
// The instant the program was last known running, "yyyy-MM-ddTHH:mm:ssZ" in UTC.
inline constexpr const char16_t* LastRunTime = u"LastRunTime";

} // namespace Settings
